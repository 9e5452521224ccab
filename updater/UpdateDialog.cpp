#include "UpdateDialog.h"
