#pragma once
// The display tests make their recorder's directory with this folder's TempDir.
#include "SampleTestFiles.h"
