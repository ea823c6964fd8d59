#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TBitmap;
class TPicture;

namespace oem {

// The ways Windows systems keep the OEM information and logo.
enum class Generation {
    Windows9x, // SystemRoot under Windows\CurrentVersion; system\oeminfo.ini, system\oemlogo.bmp
    Nt5,       // Windows NT 4, 2000 and XP: system32\oeminfo.ini, system32\oemlogo.bmp
    Nt6,       // Vista to 11, and Wine: the OEMInformation registry key, plus the system32 files
};

// "9x", "NT 5", "NT 6+": how people call the generations.
const char* generationName(Generation generation);

// A value of the OEMInformation key of NT 6 that the program shows, saves and restores: each
// is a text (REG_SZ or REG_EXPAND_SZ) except HelpCustomized, a number (REG_DWORD).
struct InformationValue {
    const char* name;
    bool number;
};
inline constexpr std::array<InformationValue, 7> kInformationValues = {{
    {"Manufacturer", false},
    {"Model", false},
    {"Logo", false},
    {"SupportPhone", false},
    {"SupportHours", false},
    {"SupportURL", false},
    {"HelpCustomized", true},
}};
// The entry of kInformationValues with that exact name; null for any other name.
const InformationValue* findInformationValue(const std::string& name);

// An item of the OEM information that a save may delete.
enum class OemItem {
    Manufacturer, // the registry value on NT 6, and "general" Manufacturer of oeminfo.ini
    Model,        // likewise
    SupportLine1, // "Support Information" Line1 of oeminfo.ini
    SupportLine2, // "Support Information" Line2
    SupportPhone, // the registry values of NT 6 alone
    SupportHours,
    SupportUrl,
};

// The width and height of a logo area in pixels.
struct LogoBox {
    int width = 0;
    int height = 0;
    friend bool operator==(const LogoBox&, const LogoBox&) = default;
};

// The bits per pixel of a logo that the program makes; Screen takes the screen's depth, as
// the window's pictures do.
enum class LogoDepth { Screen, Bits8, Bits24 };

// The OEM texts that the program edits, in UTF-8: oeminfo.ini keeps them in the system's ANSI
// code page and the registry in Unicode. An item without a value is not read or not written.
struct OemInfo {
    std::optional<std::string> manufacturer;
    std::optional<std::string> model;
    std::optional<std::string> supportLine1;
    std::optional<std::string> supportLine2;
};

// The support part of the NT 6 System page, kept in registry values alone, in UTF-8. An item
// without a value is not read or not written.
struct OemSupport {
    std::optional<std::string> phone;
    std::optional<std::string> hours;
    std::optional<std::string> url;
    // Read but never written by writeInfo: whether the maker's own help replaces the system's.
    std::optional<std::uint32_t> helpCustomized;
};

// What a save does with the support lines after Line2 in oeminfo.ini.
enum class FurtherSupportLines { Keep, Remove };

// What the system's own System Properties sheet shows about the machine's maker.
struct OemSheet {
    // On 9x and NT 5 the maker part shows only when oeminfo.ini exists; on NT 6 each item
    // shows when its registry value exists.
    bool shown = false;
    std::optional<std::string> manufacturer;
    std::optional<std::string> model;
    std::vector<std::string> supportLines; // 9x and NT 5: Line1, Line2, ... up to a gap
    std::string logoFile;                  // Windows path of the logo shown; empty for none
    // NT 6: the support part.
    std::optional<std::string> supportPhone;
    std::optional<std::string> supportHours;
    std::optional<std::string> supportUrl;
};

// Everything of a system's OEM data that the program writes, as it was at one moment: the OEM
// files and, on NT 6, the OEMInformation values that saves set. What did not exist then has no
// bytes or data, so that giving it back removes it.
struct OemSnapshot {
    struct File {
        std::string name;                 // "oeminfo.ini", "oemlogo.bmp"
        std::optional<std::string> bytes; // nothing: the file did not exist
        int mode = 0644;                  // permission bits
    };
    struct Value {
        std::string name;                // a name of kInformationValues
        std::uint32_t type = 1;          // a text kind, 1 (plain) or 2 (expandable); 4 for a number
        std::optional<std::string> data; // UTF-8 with its closing NUL, or the number's 4 bytes
                                         // (little-endian); nothing: no value
    };
    Generation generation = Generation::Windows9x;
    std::vector<File> files;
    std::vector<Value> values; // NT 6 only: every value of kInformationValues, in its order
};

// A Windows system as its registry describes it, and where it keeps its OEM data. This is the
// one place that knows the layouts of the generations; the main window, the System Properties
// stand-in and the command-line tool ask it for paths and let it read and write.
//
// Paths are Windows paths, resolved through the machine's drives at the moment they are used.
// Registry access goes through the platform's registry functions (HKEY_LOCAL_MACHINE).
//
// Every write holds the system's lock (platform::SystemLock) from its first read to its last
// write: a save while another program saves to the same system waits a few seconds for it,
// then raises ESystemBusy "Another program is saving to this system. Try again.".
class OemSystem {
public:
    // What to take for the Windows directory when the registry names none.
    enum class MissingRoot {
        CurrentDriveRoot, // "\": the main window's rule
        WindowsDirectory, // C:\WINDOWS, where the platform keeps Windows
    };

    // A 9x system whose Windows directory is "\" (what the program assumes before it knows).
    OemSystem() = default;

    // Recognises the system from HKEY_LOCAL_MACHINE: SystemRoot under Windows\CurrentVersion
    // makes it 9x, unless Windows NT\CurrentVersion names a version of 6.0 or more (its
    // CurrentMajorVersionNumber, or a CurrentVersion of "6.0" or more): such a registry is an
    // NT 6 one that an older Wine or another program gave the 9x value too, and its
    // SystemRoot is the NT key's when it has one. Otherwise SystemRoot under
    // Windows NT\CurrentVersion makes it NT, of generation 6 when CurrentMajorVersionNumber
    // exists or CurrentVersion is "6.0" or more (also when it is missing or unreadable),
    // else 5. Without either SystemRoot it is 9x with
    // the Windows directory that whenMissing names. A SystemRoot of a non-string kind raises
    // ERegistryException "Invalid data type for 'SystemRoot'", and a Windows registry that
    // cannot be read (a damaged hive) raises its reason.
    static OemSystem describe(MissingRoot whenMissing = MissingRoot::CurrentDriveRoot);

    Generation generation() const { return generation_; }
    // The NT version as the registry gives it ("5.1", "6.1", "10.0"); empty on 9x.
    const std::string& version() const { return version_; }
    // The system's own name for itself (ProductName), when the registry has one.
    const std::string& productName() const { return productName_; }
    // The SystemRoot value followed by "\", or the fallback; every path below starts with it.
    const std::string& windowsDirectory() const { return windowsDirectory_; }
    // The system folder followed by "\": "system\" on 9x, "system32\" (as the disk spells
    // it) on NT.
    std::string systemDirectory() const { return windowsDirectory_ + systemFolder_ + "\\"; }
    std::string infoFile() const { return systemDirectory() + "oeminfo.ini"; }
    // Where a saved logo goes.
    std::string logoFile() const { return systemDirectory() + "oemlogo.bmp"; }
    // True on NT 6, whose sheet reads manufacturer, model and logo from the registry key
    // infoKey() instead of the files.
    bool keepsInfoInRegistry() const { return generation_ == Generation::Nt6; }
    // The registry key of the NT 6 OEM values with its root key, as people write it
    // (HKEY_LOCAL_MACHINE, then Software and the path to OEMInformation); empty before NT 6.
    std::string infoKey() const;

    // The logo the system shows now: on NT 6 the file that the Logo value names (with
    // %SystemRoot%, %windir% and %SystemDrive% expanded) when the value exists, else logoFile().
    std::string currentLogoFile() const;

    // The current OEM texts, each from where the system keeps it: on NT 6 manufacturer and
    // model come from the registry when their values exist; everything else comes from
    // oeminfo.ini (values cut to 1023 characters, as the profile functions read them). An item
    // found nowhere takes its default (and stays without a value when the default has none).
    // A registry value of a non-string kind raises "Invalid data type for '%s'".
    OemInfo readInfo(const OemInfo& defaults = {}) const;
    // The support values of NT 6, each when it exists (a HelpCustomized that is not a number
    // is left out); nothing on 9x and NT 5. A text value of another kind raises as readInfo.
    OemSupport readSupport() const;

    // What the System Properties sheet shows. Never raises: unreadable parts are left out.
    OemSheet readSheet() const;

    // Loads the current logo; null when there is no such file. Raises the bitmap's own errors
    // for a file that is not a valid bitmap.
    std::unique_ptr<TBitmap> readLogo() const;

    // Writes the items that have a value: to oeminfo.ini ("general" Manufacturer and Model,
    // "Support Information" Line1 and Line2, in that order, then the removal of Line3 to
    // Line6 when asked), and on NT 6 then manufacturer and model to the registry as string
    // values. Nothing at all is written when a text holds a line break, which an INI value
    // cannot hold (EIniFileException naming the key). On NT 6 nothing at all is written while
    // Wine runs in the prefix (EWineRunning) or while the registry cannot be written
    // ("Failed to set data for '%s'", followed by the system's reason when there is one). A
    // file that cannot be written raises EIniFileException "Unable to write to %s"; so do
    // writes after which no regular file stands at infoFile().
    //
    // One save is one transaction: every check comes first, the new oeminfo.ini and the
    // registry changes are made in memory, then the registry file is written once with all of
    // its changes and oeminfo.ini once. A failure before that changes no file; each file is
    // replaced atomically, so it holds either the old or the new state. Temporary files that
    // killed saves left beside the files written are removed first.
    //
    // On NT 6 the support values that have a value are written as string values too (never
    // HelpCustomized), and the items in cleared are deleted, each where it is kept, in the same
    // transaction. Support values given or cleared on 9x or NT 5, which have none, raise
    // "<generation> systems have no support phone, hours or web address" and write nothing.
    void writeInfo(const OemInfo& info, FurtherSupportLines further, const OemSupport& support = {},
                   const std::vector<OemItem>& cleared = {}) const;
    // True on NT 6, whose System page shows the support phone, hours and web address.
    bool keepsSupportValues() const { return keepsInfoInRegistry(); }

    // Saves the logo: save is called with logoFile() and writes the file (raising its own
    // errors); on NT 6 the Logo value then names that file, in one write of the registry. The NT 6 checks of writeInfo come
    // first, so that a refusal writes nothing. A save after which no regular file stands at
    // logoFile() raises EFCreateError "Cannot create file %s" and changes no registry value.
    void writeLogo(const std::function<void(const std::string& target)>& save) const;
    void writeLogo(TBitmap& bitmap) const;
    // Saves a picture as the logo, the way the main window's Save Logo does, deciding by the
    // kind of graphic the picture holds: a bitmap is first replaced by a copy of itself (so
    // the picture changes), which is written; any other kind (a JPEG, a GIF) is decoded into
    // a new bitmap that is written, and the picture keeps it. A picture without a graphic, or
    // one that gives an empty bitmap, raises "There is no picture to save." and writes
    // nothing; so does a bitmap whose file form would not load back.
    void writeLogo(TPicture& picture) const;

    // The OEM data as it is now. Raises "Invalid data type for '%s'" for an OEM value that is
    // not text, the file's own errors for a file that cannot be read, and refuses links as
    // refuseLink does.
    OemSnapshot snapshot() const;
    // Gives the system back the state of a snapshot of the same generation: files and values
    // that had no bytes or data are removed. Every check of a save comes first (the lock, links,
    // a Windows disk that refuses writes, a running Wine, a registry that cannot be written,
    // files that cannot be replaced), and a snapshot of another generation, a file without a
    // known name or a value of another kind or name is refused: nothing is written then. The
    // values are written in one commit, then each file.
    void restore(const OemSnapshot& snapshot) const;

    // The host file that a Windows path of the system names. Raises "Drive C: of this system
    // cannot be found" (with the path's own drive letter) when no drive resolves it: such a
    // path is never taken relative to the current folder instead.
    static std::filesystem::path hostFile(const std::string& windowsPath);
    // Raises "<windowsPath> is a symbolic link; not followed" when the file's own place holds
    // a link that the system's files are never read or written through: one owned by another
    // user, or one that leads out of the system's tree. The file layer refuses such a link at
    // every write, copy and delete anyway; this gives the refusal its words before anything
    // is written. Raises "<folder> leads out of this system; not followed" when the file's
    // folder exists but lies outside the system's tree (a folder replaced by a link).
    static void refuseLink(const std::string& windowsPath);

    // The size of the window's viewer, and of the logo area of the 9x and NT 5 sheets.
    static constexpr int kLogoWidth = 180;
    static constexpr int kLogoHeight = 114;
    // The logo area of the system's own System page: 180x114 on 9x and NT 5, 120x120 on NT 6.
    LogoBox logoBox() const;
    // The box the window's Resize To Fit fits a picture into: what both the system's logo area
    // and the window's 180x114 viewer show whole (120x114 on NT 6).
    LogoBox windowFitBox() const;
    // Shrinks the picture into a new bitmap that fits box with its proportions kept (never
    // enlarged), drawn as the window's Resize To Fit draws it, of the given depth; the bitmap
    // replaces the picture. The 8-bit form takes the colours of the 256-colour halftone
    // palette, as a bitmap made on an 8-bit screen is saved. Needs no screen unless depth is
    // Screen.
    static void fitLogo(TPicture& picture, LogoBox box, LogoDepth depth);
    // Gives a bitmap the depth, converting its pixels; Screen leaves it as it is.
    static void setLogoDepth(TBitmap& bitmap, LogoDepth depth);

    // The folders where the user's desktop and Start-menu shortcuts go, as Windows paths
    // without a final "\". On NT the folders that HKEY_CURRENT_USER's Explorer\Shell Folders
    // names (Desktop, Start Menu, Programs), else those that its User Shell Folders names with
    // %USERPROFILE% expanded, each only when it is an existing folder; empty for none, which
    // leaves the shortcut to the Windows directory's own layout. Always empty on 9x, where a
    // shortcut's missing folder is made; on NT no folder is made, only shortcut files.
    struct UserFolders {
        std::string desktop;
        std::string startMenu;
        std::string programs;
        bool createFolders = true;
    };
    UserFolders userFolders() const;

private:
    // The checks before any write: the drive of the system folder and a link in the place of
    // the file about to be written, a Windows disk that refuses writes, then on NT 6 a running
    // Wine server and a registry that cannot be written.
    void ensureWritable(const std::string& file, const char* firstValue) const;
    // Removes what saves that were killed left behind in the folders a save writes: temporary
    // files beside the OEM files and, when asked, beside the registry file. Needs the lock.
    void removeStaleTemporaries(bool registry) const;

    Generation generation_ = Generation::Windows9x;
    std::string version_;
    std::string productName_;
    std::string systemRoot_;              // as stored, without the final "\"
    std::string windowsDirectory_ = "\\"; // with the final "\"
    std::string systemFolder_ = "system";
};

} // namespace oem
