#pragma once
// The report framework unit the screens use.
#include "report/parameters.h"
#include "report/qrddlgs.h"
