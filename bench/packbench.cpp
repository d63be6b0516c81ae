// Times the dense layout's packer on seeded sets of sprite sizes and prints each set's
// occupancy (sprite area over page area). corvane-bench-pack [threads]
// With --sizes, the sizes of a real set instead, one "W H" a line (bench/dense-atlas writes the
// trimmed sizes of its sprites so): corvane-bench-pack --sizes FILE [--max-size N] [--rotate] [threads]
#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QSize>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "strip/layouts/maxrects.h"

namespace {

QList<QSize> uniform(int count, int low, int high, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> side(low, high);
    QList<QSize> sizes;
    for (int i = 0; i < count; ++i) {
        const int w = side(random);
        sizes.push_back(QSize(w, side(random)));
    }
    return sizes;
}

// Icons, characters, long bars and a few large backgrounds, as a game's atlas holds them.
QList<QSize> mixed(int count, unsigned seed)
{
    std::mt19937 random(seed);
    QList<QSize> sizes;
    for (int i = 0; i < count; ++i) {
        const int kind = int(random() % 100);
        auto in = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
        if (kind < 50) {
            const int s = 1 << in(3, 6);
            sizes.push_back(QSize(s, s));
        } else if (kind < 85) {
            sizes.push_back(QSize(in(20, 90), in(30, 120)));
        } else if (kind < 97) {
            sizes.push_back(QSize(in(100, 300), in(4, 24)));
        } else {
            sizes.push_back(QSize(in(200, 400), in(150, 300)));
        }
    }
    return sizes;
}

void run(const char *name, const QList<QSize> &sizes, const strip::PackOptions &options)
{
    QElapsedTimer timer;
    timer.start();
    const strip::Packing packing = strip::packRectangles(sizes, options);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    std::printf("%-34s %6lld sprites  %2lld page(s)  first %5d x %-5d  occupancy %.3f  %.3f s\n", name,
                qlonglong(sizes.size()), qlonglong(packing.pages.size()),
                packing.pages.isEmpty() ? 0 : packing.pages[0].width(),
                packing.pages.isEmpty() ? 0 : packing.pages[0].height(), strip::packingOccupancy(sizes, packing),
                seconds);
}

} // namespace

// The sizes of FILE, one "W H" a line; empty when it cannot be read or a line is no size.
QList<QSize> sizesFrom(const char *path)
{
    QList<QSize> sizes;
    std::FILE *file = std::fopen(path, "r");
    if (!file)
        return sizes;
    int w = 0;
    int h = 0;
    int read = 0;
    while ((read = std::fscanf(file, "%d %d", &w, &h)) == 2)
        sizes.push_back(QSize(w, h));
    std::fclose(file);
    if (read != EOF)
        sizes.clear();
    return sizes;
}

int packFile(int argc, char **argv)
{
    strip::PackOptions options;
    options.maxSide = 4096;
    int at = 3;
    for (; at < argc; ++at) {
        if (!std::strcmp(argv[at], "--rotate"))
            options.rotate = true;
        else if (!std::strcmp(argv[at], "--max-size") && at + 1 < argc)
            options.maxSide = std::atoi(argv[++at]);
        else
            break;
    }
    options.threads = at < argc ? std::atoi(argv[at]) : 0;
    const QList<QSize> sizes = sizesFrom(argv[2]);
    if (sizes.isEmpty()) {
        std::fprintf(stderr, "%s: no sizes (one \"W H\" a line)\n", argv[2]);
        return 1;
    }
    run(argv[2], sizes, options);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc > 2 && !std::strcmp(argv[1], "--sizes"))
        return packFile(argc, argv);
    strip::PackOptions options;
    options.threads = argc > 1 ? std::atoi(argv[1]) : 0;
    options.maxSide = 0;
    for (int count : {100, 400, 401, 1000, 3000}) {
        const QByteArray name = QByteArray::number(count) + " random 8..64, no limit";
        run(name.constData(), uniform(count, 8, 64, 5), options);
    }
    run("10000 random 8..64, no limit", uniform(10000, 8, 64, 1), options);
    run("1000 random 8..128, no limit", uniform(1000, 8, 128, 2), options);
    run("2000 mixed, no limit", mixed(2000, 3), options);
    options.maxSide = 4096;
    run("10000 mixed, limit 4096", mixed(10000, 4), options);
    options.rotate = true;
    run("10000 mixed, 4096, rotate", mixed(10000, 4), options);
    options.rotate = false;
    options.padding = 2;
    options.margin = 1;
    run("10000 random, padding 2 margin 1", uniform(10000, 8, 64, 1), options);
    options.padding = 0;
    options.margin = 0;
    options.powerOfTwo = true;
    run("10000 random 8..64, power of two", uniform(10000, 8, 64, 1), options);
    run("1000 random 8..128, power of two", uniform(1000, 8, 128, 2), options);
    return 0;
}
