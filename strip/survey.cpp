#include "strip/survey.h"

#include <QCryptographicHash>

#include <algorithm>
#include <map>
#include <memory>
#include <new>
#include <vector>

#include "picture/source/animation.h"
#include "picture/base/threads.h"

namespace strip {

namespace {

// The frame's digest and visible part, its pixels taken as straight ARGB with opaque ones
// marked so: two frames that draw the same have the same digest, whatever their file's format.
FrameLook look(QImage frame, picture::TransparentColour transparent, bool digest)
{
    if (frame.format() != QImage::Format_ARGB32 && frame.format() != QImage::Format_RGB32)
        frame.convertTo(frame.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (transparent == picture::TransparentColour::Clean)
        frame = picture::withTransparentColour(std::move(frame), transparent);
    if (frame.isNull())
        throw std::bad_alloc();
    const bool opaque = frame.format() == QImage::Format_RGB32;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const qint32 size[2] = {frame.width(), frame.height()};
    hash.addData(QByteArrayView(reinterpret_cast<const char *>(size), sizeof size));
    std::vector<QRgb> row(size_t(frame.width()));
    int left = frame.width(), right = -1, top = frame.height(), bottom = -1;
    for (int y = 0; y < frame.height(); ++y) {
        const QRgb *p = reinterpret_cast<const QRgb *>(frame.constScanLine(y));
        int first = -1, last = -1;
        for (int x = 0; x < frame.width(); ++x) {
            row[size_t(x)] = opaque ? p[x] | 0xff000000u : p[x];
            if (qAlpha(row[size_t(x)]) != 0) {
                if (first < 0)
                    first = x;
                last = x;
            }
        }
        if (digest)
            hash.addData(QByteArrayView(reinterpret_cast<const char *>(row.data()), qsizetype(row.size() * sizeof(QRgb))));
        if (first >= 0) {
            left = std::min(left, first);
            right = std::max(right, last);
            top = std::min(top, y);
            bottom = y;
        }
    }
    return {digest ? hash.result() : QByteArray(), right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom))};
}

} // namespace

QString surveyFrames(const SheetJob &job, QList<FrameLook> *looks, bool digests)
{
    looks->resize(job.frames.size());
    // Each source's frames in frame order, so that an animation is read forward once.
    std::map<int, std::vector<int>> bySource;
    for (int i = 0; i < job.frames.size(); ++i)
        bySource[job.frames[i].source].push_back(i);
    std::vector<std::pair<int, std::vector<int>>> tasks(bySource.begin(), bySource.end());
    for (auto &[source, frames] : tasks)
        std::stable_sort(frames.begin(), frames.end(), [&](int a, int b) { return job.frames[a].frame < job.frames[b].frame; });

    const int scale = std::max(job.sheet.scale, 1);
    std::vector<QString> failures(tasks.size());
    picture::forEachOnThreads(std::ptrdiff_t(tasks.size()), [&](std::ptrdiff_t t) {
        const auto &[s, frames] = tasks[size_t(t)];
        const SheetSource &source = job.sources[s];
        auto refused = [&](const QString &cause) {
            failures[size_t(t)] = picture::refusedAsDamaged(source.picture.name(), cause, source.picture.format()).message;
        };
        try {
            std::unique_ptr<picture::FrameStream> stream;
            QImage image;
            for (const int i : frames) {
                if (!frameOf(source, job.frames[i].frame, stream, &image, &failures[size_t(t)]))
                    return;
                if (!takenFrame(source, scale, &image, &failures[size_t(t)]))
                    return;
                (*looks)[i] = look(image, job.transparent, digests);
            }
        } catch (const std::bad_alloc &) {
            refused(picture::outOfMemory());
        } catch (const std::exception &e) {
            refused(QString::fromLocal8Bit(e.what()));
        }
    });
    for (const QString &failure : failures)
        if (!failure.isEmpty())
            return failure;
    return {};
}

} // namespace strip
