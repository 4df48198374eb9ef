#include "audio/WaveOut.h"
