#pragma once

class Arbor;
class Settings;

// The one lattice and the one options document of the running program.
// The application object registers its members here at construction; tests
// register their own. Model code that needs "the lattice" or "the options"
// (absolute ratios, note spelling, link colours) asks here instead of
// reaching for the application object.
namespace ArborContext
{
Arbor* lattice();                 // null when none is registered
void setLattice(Arbor* lattice);

Settings* settings();             // never null: a default document when none is registered
void setSettings(Settings* settings);
}
