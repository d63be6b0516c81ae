#include "strip/layouts/layouts.h"

namespace strip {

// Each layout is defined beside its code.
extern const Layout gridLayout, denseLayout;

std::span<const Layout> layouts()
{
    static const Layout all[] = {gridLayout, denseLayout};
    return all;
}

const Layout *layoutNamed(const QString &id)
{
    for (const Layout &layout : layouts())
        if (id == QLatin1String(layout.id))
            return &layout;
    return nullptr;
}

} // namespace strip
