#include "PublishMode.h"

#include <unistd.h>

#include <QApplication>
#include <cerrno>
#include <cstdio>
#include <exception>

#include "package/ContentCopier.h"
#include "package/IndexLists.h"
#include "package/Markers.h"
#include "package/TBelkaPostepu.h"
#include "package/Warning.h"
#include "util/Folders.h"
#include "util/Process.h"

namespace sitowiak::package {
namespace {

constexpr char kCompressProgram[] = "compress";
constexpr char kContentSuffix[] = ".zawartosc";
constexpr char kProgramIndex[] = "start.start";
constexpr char kFileListSuffix[] = ".install";

}  // namespace

PublishMode::PublishMode(const PackageContext& context, const ProgramInfo& program)
    : m_context(context), m_program(program) {}

PublishMode::~PublishMode() = default;

bool PublishMode::Publish(const std::string& source) {
    ClassifiedPath place = ClassifyPath(source);
    std::string dest = m_context.argument + place.code + "/" + FolderPart(place.rest);
    std::string aux = MirrorPath(util::TempFolder(), dest);
    bool done = false;
    if (!util::ForceFolders(aux)) {
        Warn("Nie można utworzyć katalogu pomocniczego " + Quoted(aux));
    } else {
        EnsureWindow();
        std::string name = FileNamePart(source);
        SourceFacts facts{source, name + kContentSuffix, util::FileVersion(source),
                          util::FileDate(source)};
        done = PublishGuarded(facts, dest, aux) && UpdateLists(place);
    }
    if (!done) Warn("Nie można skopiować pliku " + source + " (" + FileNamePart(source) + ")");
    return done;
}

bool PublishMode::PublishGuarded(const SourceFacts& source, const std::string& dest,
                                 const std::string& aux) {
    try {
        bool upToDate = IsUpToDate(source, aux) && TreeHoldsMirrored(source, dest, aux);
        if (source.date == -1) {
            Warn("Nie można pobrać daty z pliku źródłowego " + Quoted(source.file));
            return false;
        }
        return upToDate || Send(source, dest, aux);
    } catch (const std::exception&) {
        return false;  // an unreadable file or a stream that cannot be made fails the file
    }
}

bool PublishMode::IsUpToDate(const SourceFacts& source, const std::string& aux) const {
    if (!source.version.IsZero())
        return util::CompareVersions(ReadVersionMarker(aux + source.content), source.version) >= 0;
    return ReadDateMarker(aux + source.content) >= source.date;
}

// The mirror may outlive the tree (deleted, replaced, copied only in part),
// so an up-to-date file counts as published only when the tree still has its
// content, as long as its length marker says, and version and date markers
// equal to the mirror's.
bool PublishMode::TreeHoldsMirrored(const SourceFacts& source, const std::string& dest,
                                    const std::string& aux) const {
    std::string content = dest + source.content;
    int32_t length = ReadLengthMarker(content);
    return length >= 0 && util::FileSize(content) == length &&
           SameVersionAndDate(content, aux + source.content);
}

bool PublishMode::Send(const SourceFacts& source, const std::string& dest, const std::string& aux) {
    if (!util::ForceFolders(dest)) {
        Warn("Nie można utworzyć katalogu " + Quoted(dest));
        return false;
    }
    std::string tmp = Compress(source.file);
    if (tmp.empty()) {
        Warn("Nie można skompresować pliku źródłowego " + Quoted(source.file));
        return false;
    }
    int32_t size = util::FileSize(tmp);
    std::string part =
        ContentCopier(m_window.get()).CopyToPart(tmp, size, dest + source.content, source.content);
    ::unlink(tmp.c_str());
    return !part.empty() && Install(part, source, dest, size, aux);
}

// Runs "compress SOURCE TMP" and waits for it. The compressed file's name, or
// empty when the tool cannot be started, exits with a code other than 0 or
// leaves no file behind.
std::string PublishMode::Compress(const std::string& source) {
    std::string tmp = util::NewTempFileName();
    std::string program = util::FindProgram(kCompressProgram, m_context.toolFolder);
    if (tmp.empty() || program.empty()) {
        if (!tmp.empty()) ::unlink(tmp.c_str());
        return "";
    }
    pid_t pid = util::StartProgram(program, {util::ShortPath(source), tmp});
    std::optional<int> exitCode = pid > 0 ? util::WaitForProgram(pid) : std::nullopt;
    if (exitCode == 0 && util::FileSize(tmp) >= 0) return tmp;
    ::unlink(tmp.c_str());
    return "";
}

// Puts the copied part in place of the content file, then the tree's
// markers, then the mirror's: each step only when the one before succeeded.
bool PublishMode::Install(const std::string& part, const SourceFacts& source,
                          const std::string& dest, int32_t size, const std::string& aux) {
    std::string content = dest + source.content;
    std::string length = content + kLengthMarker;
    bool ok = (::unlink(length.c_str()) == 0 || errno == ENOENT) &&
              std::rename(part.c_str(), content.c_str()) == 0;
    if (!ok) ::unlink(part.c_str());
    return ok && WriteLengthMarker(content, size) && WriteVersionMarker(content, source.version) &&
           WriteDateMarker(content, source.date) &&
           WriteVersionMarker(aux + source.content, source.version) &&
           WriteDateMarker(aux + source.content, source.date);
}

bool PublishMode::UpdateLists(const ClassifiedPath& place) {
    const ClassifiedPath& program = m_program.place;
    return AddListLine(util::TempFolder(), m_context.argument, kProgramIndex,
                       program.code + program.rest + "," + m_program.name) &&
           AddListLine(util::TempFolder(), m_context.argument,
                       program.code + "/" + program.rest + kFileListSuffix,
                       place.code + place.rest);
}

void PublishMode::EnsureWindow() {
    // Widgets need a QApplication; without one the copy runs without a window.
    if (!m_window && qobject_cast<QApplication*>(QCoreApplication::instance()))
        m_window = std::make_unique<TBelkaPostepu>();
}

}  // namespace sitowiak::package
