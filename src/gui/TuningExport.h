#pragma once

class Arbor;
class QWidget;

// "Export tuning…": asks whether to take the sounding chord or the whole
// lattice and where to put the scale, then writes the .scl and its .kbm.
// A file that exists is replaced only after the user agreed.
void exportTuningWithDialogs(QWidget* parent, const Arbor& arbor);
