// The pictures of the instrument page, drawn once at start-up: the knob face
// in every knob's centre, the piano key sprite sheet, the eight algorithm
// connection diagrams and the SSG-EG shapes.
#pragma once

#include <QPixmap>
#include <array>

namespace qv {

struct InstrumentPictures {
    static constexpr int kKeyColumn = 26;      // one sprite column of the key sheet
    static constexpr int kKeySheetWidth = 8 * kKeyColumn;
    static constexpr int kKeySheetHeight = 64;  // rows 0-35 upper part, 36-63 lower part
    static constexpr int kAlgoWidth = 121;
    static constexpr int kAlgoHeight = 65;
    static constexpr int kEnvWidth = 44;
    static constexpr int kEnvHeight = 22;

    InstrumentPictures();

    QPixmap knobFace;                    // ImageKnob
    QPixmap keys;                        // ImageKeys: columns 0-3 at rest, 4-7 pressed
    std::array<QPixmap, 8> algorithms;   // ImageListAlgo, by algorithm 0-7
    std::array<QPixmap, 9> ssgEg;        // ImageListEnv: 0 = off, 1-8 = SSG-EG 8-15
};

}  // namespace qv
