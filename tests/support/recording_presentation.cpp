#include "recording_presentation.h"
