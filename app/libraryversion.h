#ifndef APP_LIBRARYVERSION_H
#define APP_LIBRARYVERSION_H

#include <cstddef>
#include <string>

// The check of the protocol library's version: the program runs only with a
// library whose FileVersion string begins with the numbers 1 and 1.
//
// The program names the library file "qort.dll". On this platform that name
// stands for the libqort file the dynamic loader actually bound (found by
// asking the loader where QORT_Start is defined); any other name is a path
// of a file to read, which is how tests point the check at other files.
// No widgets here: the main window shows "Incorrect DLL version" itself.
class CLibraryVersion {
public:
    static constexpr char kLibraryFileName[] = "qort.dll";
    static constexpr std::size_t kVersionTextSize = 256; // at most 255 characters and a NUL
    static constexpr int kAcceptedMajor = 1;
    static constexpr int kAcceptedMinor = 1;

    virtual ~CLibraryVersion();

    // The version rule: true when, after ReadVersionNumbers, major and minor
    // are both 1. Its result and the build number take no part; when no
    // version string can be read at all the library is refused.
    bool IsAcceptedLibrary(const char* fileName = kLibraryFileName);

    // True when a FileVersion string was read and the '.' split, or failing
    // that the ',' split of what the first left, found three numbers. A
    // failed read leaves the numbers untouched; a failed split leaves those
    // it already stored.
    bool ReadVersionNumbers(const char* fileName, int& major, int& minor, int& build);

    // out: kVersionTextSize bytes, always NUL-terminated on success. The
    // string is taken from the block of the single translation, or, with none
    // or several, from the user's default language with code page 04B0.
    bool ReadFileVersionString(const char* fileName, char* out);

    // Splits text in place like strtok with the one separator: runs of it are
    // skipped and a NUL is written over the separator ending each token. The
    // numbers are converted like atoi, saturating instead of overflowing.
    bool SplitVersionString(char* text, int& major, int& minor, int& build, char separator);

    // kLibraryFileName -> path of the loaded libqort (or the name itself when
    // none is loaded); any other name unchanged.
    static std::string ResolveFileName(const char* fileName);
};

#endif // APP_LIBRARYVERSION_H
