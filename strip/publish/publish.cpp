#include "strip/publish/publish.h"

#include <algorithm>

#include "picture/base/savefile.h"
#include "strip/ends/dataends.h"
#include "strip/names.h"
#include "strip/publish/sheetfile.h"

namespace strip {

QString rehearseRun(const RunPlan &plan, const RunRequest &request, const PageProgress &progress)
{
    int before = 0; // pages of the sheets before, so that progress counts every page of the run
    for (const SheetPlan &sheet : plan.sheets) {
        for (int p = 0; p < sheet.paged.pages.size(); ++p) {
            const auto onPage = [&, p](int done, int total) {
                if (progress)
                    progress(before + p, done, total);
            };
            if (const SheetWritten checked = composeOnly(sheet.paged.pages[p], request.format, onPage); !checked.ok)
                return checked.message;
        }
        before += int(sheet.paged.pages.size());
    }
    return {};
}

QString publishRun(const RunPlan &plan, const RunRequest &request, const PageProgress &progress, QStringList *written)
{
    // Every sheet's files staged, then all of them replaced together.
    picture::StagedSave save;
    QString failed;
    int before = 0;
    for (const SheetPlan &sheet : plan.sheets) {
        const auto onPage = [&](int p, int done, int total) {
            if (progress)
                progress(before + p, done, total);
        };
        if (failed.isEmpty())
            failed = stagePages(save, sheet.paged.pages, sheet.sheetPaths, request.format, sheet.background,
                                request.compression, onPage);
        if (failed.isEmpty())
            failed = stageData(save, sheet.data, request.formats, sheet.output);
        if (failed.isEmpty() && request.txt)
            failed = save.stage(sheetTextPath(sheet.output), sheet.textLine).message;
        before += int(sheet.paged.pages.size());
    }
    if (failed.isEmpty() && !request.depfile.isEmpty())
        failed = save.stage(request.depfile, plan.dependencies).message;
    // A file that would not change is left as it is, its time too, for builds that look at times.
    if (failed.isEmpty())
        failed = save.commit(true, written).message;
    if (written && failed.isEmpty())
        std::stable_sort(written->begin(), written->end(), [&](const QString &a, const QString &b) {
            return plan.outputs.indexOf(a) < plan.outputs.indexOf(b);
        });
    return failed;
}

} // namespace strip
