#pragma once
#include "rtl/streaming.h"

const ComponentDesc &ResumoOficialCfopForm();
