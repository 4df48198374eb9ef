// The playback device component.
#pragma once

#include "audio/WaveIO.h"

class TWaveAudioOut : public TWaveAudioIO {
public:
    explicit TWaveAudioOut(TWaveDriver& driver) : TWaveAudioIO(driver, TWaveKind::Out) {}
};
