#pragma once
// config.dat holds the password in plain text. What a save asks of the system so that no other user
// of the machine can read it; one file per system answers it (privatefile_unix.cpp,
// privatefile_win.cpp).

class QSaveFile;

namespace PrivateFile {

enum class Outcome {
    Done,    // private, or as private as its owner made the file it replaces
    NotKept, // the file system keeps no access rights (FAT, exFAT): the save goes on, and says so in the log
    Failed,  // the system refused: the save must not go on
};

// Called on the save file just opened, before anything is written to it, so that the password is
// never in a file others may read. `replacing`: a file by the final name exists already.
Outcome restrict(QSaveFile &file, bool replacing);

} // namespace PrivateFile
