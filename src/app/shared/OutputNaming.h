#pragma once
// Naming the output file of each source: "<base> (<preset name>)<ext>" in the source's folder or
// the chosen output folder, numbered " [1]", " [2]", ... inside the brackets while the name is
// taken.

#include <set>
#include <string>

namespace mobivert::app {

// The name for number n (0: unnumbered) of an output whose base is basePath (a folder and the
// source's file name): the base without its extension, " (", the preset name, " [n]" when
// n > 0, ")" and the preset's extension. When the file name would be longer than maxNameBytes,
// the source's part is cut at a UTF-8 character boundary so that it fits; the preset part, the
// number and the extension are always kept.
std::string NumberedOutputName(const std::string& basePath, const std::string& presetText, int n,
                               size_t maxNameBytes = std::string::npos);

// Bytes an output's file name may have in the folder: the file system's name limit less the
// room its work and partial names need (".NAME.part", "NAME [partial 12]").
size_t OutputNameLimit(const std::string& folder);

// Creates the folder with every missing parent; false with the reason in error. An existing
// folder is fine; an existing file of that name is not.
bool EnsureFolder(const std::string& folder, std::string& error);

// Chooses output names for one batch. A name is taken when anything exists at that path or
// when the same batch already gave it to an earlier source, so two sources of the same name in
// different folders never share an output.
class TOutputNamer {
public:
    // With reserve set, every chosen name is created at once as an empty file that no one else
    // can have created (exclusive creation), so a name cannot be taken between naming and
    // writing, even by another program.
    explicit TOutputNamer(bool reserve = false) : reserve_(reserve) {}
    ~TOutputNamer() = default;
    TOutputNamer(const TOutputNamer&) = delete;
    TOutputNamer& operator=(const TOutputNamer&) = delete;

    // The output of sourcePath for the preset: in the source's folder when sameFolder is set,
    // otherwise in outputFolder, which is created when missing. Empty with the reason in error
    // when the folder cannot be made or no name can be reserved.
    std::string Choose(const std::string& sourcePath, const std::string& presetText,
                       bool sameFolder, const std::string& outputFolder, std::string& error);

    // Removes a reserved file that is still empty (its task never wrote to it); the name stays
    // given for the rest of the batch.
    void ReleaseReservation(const std::string& path);

    // True when the last name chosen had to be shortened to fit the file system.
    bool LastShortened() const { return shortened_; }

    // A new batch: no name is given yet.
    void Reset() { given_.clear(); }

private:
    bool Taken(const std::string& path) const;

    bool reserve_;
    bool shortened_ = false;
    std::set<std::string> given_;
    std::set<std::string> reserved_;
};

} // namespace mobivert::app
