// Publish mode: one file of the program compressed into the distribution
// tree with its markers, and the tree's index lists brought up to date.
//
//   R + code + "/" + folder + name + ".zawartosc"   the compressed file
//     ... + ".dlugosc" / ".wersja" / ".data"       its markers
//   R + "start.start"                              program code + rest + "," + name
//   R + program code + "/" + program rest + ".install"   code + rest of each file
//
// The auxiliary folder (MirrorPath of the destination) mirrors the
// version and date markers and the lists; a file whose mirrored marker shows
// it up to date is not copied again, as long as the tree still holds what the
// mirror describes (its content with matching markers). The mirror is
// written last, so a run that is interrupted anywhere copies the file again
// next time; the tree's length marker is removed before its content is
// replaced, so the tree never pairs new content with an old length.
#pragma once

#include <memory>
#include <string>

#include "package/PackageContext.h"
#include "package/ProgramInfo.h"
#include "util/FileFacts.h"

namespace sitowiak::package {

class TBelkaPostepu;

class PublishMode {
public:
    PublishMode(const PackageContext& context, const ProgramInfo& program);
    ~PublishMode();

    // Publishes `source`; every failure shows its warnings. True when the
    // file is in the tree (copied now or up to date) and both lists hold it.
    bool Publish(const std::string& source);
    TBelkaPostepu* Window() const { return m_window.get(); }

private:
    struct SourceFacts {
        std::string file;
        std::string content;  // file name + ".zawartosc"
        util::FileVersionHalves version;
        int32_t date;
    };

    bool PublishGuarded(const SourceFacts& source, const std::string& dest, const std::string& aux);
    bool IsUpToDate(const SourceFacts& source, const std::string& aux) const;
    bool TreeHoldsMirrored(const SourceFacts& source, const std::string& dest,
                           const std::string& aux) const;
    bool Send(const SourceFacts& source, const std::string& dest, const std::string& aux);
    std::string Compress(const std::string& source);
    bool Install(const std::string& part, const SourceFacts& source, const std::string& dest,
                 int32_t size, const std::string& aux);
    bool UpdateLists(const ClassifiedPath& place);
    void EnsureWindow();

    const PackageContext& m_context;
    const ProgramInfo& m_program;
    std::unique_ptr<TBelkaPostepu> m_window;
};

}  // namespace sitowiak::package
