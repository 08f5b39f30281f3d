#pragma once
// The report framework unit the screens use.
#include "report/qrddlgs.h"
