#include "strip/publish/publish.h"

#include <algorithm>

#include "picture/base/savefile.h"
#include "strip/ends/dataends.h"
#include "strip/names.h"
#include "strip/publish/sheetfile.h"

namespace strip {

QString rehearseRun(const RunPlan &plan, const RunRequest &request, const PageProgress &progress)
{
    for (int p = 0; p < plan.paged.pages.size(); ++p) {
        const auto onPage = [&, p](int done, int total) {
            if (progress)
                progress(p, done, total);
        };
        if (const SheetWritten checked = composeOnly(plan.paged.pages[p], request.format, onPage); !checked.ok)
            return checked.message;
    }
    return {};
}

QString publishRun(const RunPlan &plan, const RunRequest &request, const PageProgress &progress, QStringList *written)
{
    picture::StagedSave save;
    QString failed = stagePages(save, plan.paged.pages, plan.sheetPaths, request.format, plan.background,
                                request.compression, progress);
    if (failed.isEmpty())
        failed = stageData(save, plan.data, request.formats, request.output);
    if (failed.isEmpty() && request.txt)
        failed = save.stage(sheetTextPath(request.output), plan.textLine).message;
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
