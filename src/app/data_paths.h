// Where the program finds the files it ships with: keyboard layouts,
// the instrument bank and the demo song.
//
// An installed program finds them in <prefix>/share/qorvette beside its
// <prefix>/bin; a program run from its build folder falls back to the
// source tree it was built from.
#pragma once

#include <QString>

namespace qv {

struct DataPaths {
    QString root;  // the data folder, empty when none was found
    QString layouts() const;      // root/layouts, empty without a root
    QString instruments() const;  // root/instruments, empty without a root
    QString demoSong() const;     // the demo module, empty when missing

    // Looks in programDir/../share/qorvette, then in sourceDir; a folder
    // counts when it holds a layouts folder.
    static DataPaths find(const QString& programDir, const QString& sourceDir);
    // The same for the running program.
    static DataPaths forProgram();
};

// "--check-data": prints the data folders the running program finds (the
// layouts, the instrument bank and the manual compiled into it) with their
// file counts; 0 when all three were found, else 1. Needs no display.
int checkData(int argc, char** argv);

}  // namespace qv
