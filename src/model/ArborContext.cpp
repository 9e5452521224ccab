#include "ArborContext.h"

#include "Settings.h"

namespace
{
Arbor* sLattice = nullptr;
Settings* sSettings = nullptr;
}

Arbor* ArborContext::lattice()
{
    return sLattice;
}

void ArborContext::setLattice(Arbor* lattice)
{
    sLattice = lattice;
}

Settings* ArborContext::settings()
{
    if (sSettings)
        return sSettings;
    static Settings defaults;
    return &defaults;
}

void ArborContext::setSettings(Settings* settings)
{
    sSettings = settings;
}
