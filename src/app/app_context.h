// Everything that lives for the whole run of the editor, built once in main
// and handed on by reference: the Song, the chips, the Player, the sample
// source and the audio stream, the audition voices, the keyboard layout, the
// song document, the settings and the editor's view state. A test builds
// as many as it likes.
#pragma once

#include <memory>

#include "app/settings.h"
#include "document/song_document.h"
#include "io/keyboard_layout.h"
#include "song/edit_ops.h"
#include "song/song.h"
#include "sound/audio_device.h"
#include "sound/audio_output.h"
#include "sound/audition.h"
#include "sound/chip_pair.h"
#include "sound/player.h"
#include "sound/sample_source.h"

namespace qv {

// A rectangle of the current pattern in channels and rows; w or h of 0 means
// no selection.
struct Selection {
    int x = 0;  // first channel 0-5
    int y = 0;  // first row
    int w = 0;  // channels
    int h = 0;  // rows
    bool empty() const { return w <= 0 || h <= 0; }
};

// The pattern editor's view state, shared by the pattern view, the pattern
// input and the order list.
struct EditorViewState {
    int cursorRow = 0;
    int cursorColumn = 0;  // channel * 8 + field
    int orderCursor = 0;
    int currentPattern = 0;
    bool noPatternSelected = false;  // the order cursor stands past the last entry
    Selection selection;
    int currentInstrument = 1;  // the instrument page's current instrument
    int cursorChannel() const { return cursorColumn / 8; }
    int cursorField() const { return cursorColumn % 8; }
};

struct AppContext {
    // device: the sound card (the SDL device in the program, a null device in
    // tests). Without a card the stream runs on a silent stand-in, so songs
    // still play at their pace. The Song starts as a new song.
    explicit AppContext(std::unique_ptr<AudioDevice> device)
        : song(std::make_unique<Song>()),
          player(*song, chips),
          source(player, chips),
          producer(source),
          audioDevice(std::make_unique<SilentFallbackDevice>(std::move(device))),
          audio(*audioDevice, producer),
          audition(chips, player.noteTables()),
          document(*song, player) {
        song->clear();
        document.refreshTiming();
    }
    AppContext(const AppContext&) = delete;
    AppContext& operator=(const AppContext&) = delete;

    std::unique_ptr<Song> song;
    ChipPair chips;
    Player player;
    SampleSource source;
    SampleSourceProducer producer;
    std::unique_ptr<SilentFallbackDevice> audioDevice;
    AudioOutput audio;
    Audition audition;
    // The only road by which the editor changes the Song (undo, redo, load, save).
    SongDocument document;
    KeyboardLayout layout;
    Settings settings;
    EditorViewState view;
    PatternClipboard clipboard;
};

}  // namespace qv
