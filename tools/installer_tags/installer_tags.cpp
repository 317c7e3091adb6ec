// The commands of installer-tags and their command line: show, stamp, checksum, sha256, reply, keygen.
#include "tools/installer_tags/installer_tags.h"

#include <algorithm>
#include <map>
#include <optional>
#include <ostream>
#include <span>
#include <string_view>

#include "base/atomic_file.h"
#include "base/file_contents.h"
#include "base/lower_hex.h"
#include "base/utf8_path.h"
#include "payload/blanked_sha256.h"
#include "payload/checksum.h"
#include "payload/pe_resources.h"
#include "payload/tag_fields.h"
#include "payload/tag_target.h"
#include "tools/installer_tags/key_files.h"
#include "update/version_reply_format.h"
#include "update/version_resource.h"

namespace isetup::tools {
namespace {

// The program takes an installer's size as a signed 32-bit value, so nothing larger is one of ours.
constexpr std::uint64_t kMaxFileSize = 2147483647;

constexpr std::string_view kToolHelp =
    "Usage: installer-tags COMMAND FILE [options]\n"
    "\n"
    "Shows and stamps the affiliate tags (affid, affsid) of a Talvimoraster installer or of\n"
    "InternetSetup.exe, and prints what the version endpoint announces for an installer.\n"
    "\n"
    "Commands:\n"
    "  show FILE                                    the two tag values and where they lie\n"
    "  stamp FILE [--affid X] [--affsid Y] [--output OUT]\n"
    "                                               writes new tag values\n"
    "  checksum FILE                                the size and the byte-sum checksum\n"
    "  sha256 FILE                                  the SHA-256 line of a signed version reply\n"
    "  reply FILE --url HOST/PATH [--version V]     the four lines of the version reply\n"
    "  keygen NAME                                  a new update key pair, NAME.private.pem and NAME.public.pem\n"
    "\n"
    "'installer-tags COMMAND --help' tells more about a command.\n"
    "Exit status: 0 done; 1 refused or failed (the message names the file and the reason); 2 bad usage.\n";

constexpr std::string_view kShowHelp =
    "Usage: installer-tags show FILE\n"
    "\n"
    "Prints the affid and affsid values of FILE and the byte offset of each value in FILE (counted from 0).\n"
    "In InternetSetup.exe the tags are those of the embedded installer (raw-data resource RT_RCDATA 2),\n"
    "and the offset inside that installer is given as well. A tag that a stamp would refuse is shown with\n"
    "the reason.\n";

constexpr std::string_view kStampHelp =
    "Usage: installer-tags stamp FILE [--affid X] [--affsid Y] [--output OUT]\n"
    "\n"
    "Writes the given tag values into FILE: into the embedded installer when FILE is InternetSetup.exe\n"
    "(never into the program's own strings), else at the first \"affid=\" and \"affsid=\" of the file.\n"
    "\n"
    "  --affid X      the new affid value\n"
    "  --affsid Y     the new affsid value\n"
    "  --output OUT   write the stamped copy to OUT and leave FILE as it is\n"
    "\n"
    "At least one of --affid and --affsid is needed; the other tag stays as it is. A value is exactly\n"
    "8 characters from A-Z a-z 0-9 - _. Without --output, FILE is replaced in one step: a temporary file\n"
    "in its folder, flushed to the disk, then renamed over FILE. A refused or failed stamp leaves FILE\n"
    "as it was.\n";

constexpr std::string_view kChecksumHelp =
    "Usage: installer-tags checksum FILE\n"
    "\n"
    "Prints the size of FILE in bytes and its byte-sum checksum, as the \"size=\" and \"consum=\" lines of\n"
    "the version reply: the sum of all bytes modulo 2^32, with the fields after the first \"affid=\" and\n"
    "\"affsid=\" blanked, as a signed 32-bit decimal. The tag values do not change it.\n";

constexpr std::string_view kSha256Help =
    "Usage: installer-tags sha256 FILE\n"
    "\n"
    "Prints the \"sha256=\" line that a signed version reply carries for FILE: the SHA-256 of its bytes\n"
    "with the same two tag fields blanked as for the checksum, in 64 lower-case hexadecimal digits. The\n"
    "tag values do not change it, so one value serves every stamped copy.\n";

constexpr std::string_view kKeygenHelp =
    "Usage: installer-tags keygen NAME\n"
    "\n"
    "Makes a new ECDSA P-256 update key pair:\n"
    "  NAME.private.pem  the signing key (PEM PKCS#8, unencrypted, readable by its owner only): for\n"
    "                    internetsetup-endpoint --signing-key; keep it on the endpoint host alone\n"
    "  NAME.public.pem   the public key (PEM SubjectPublicKeyInfo): configure the program's build with\n"
    "                    -DINTERNETSETUP_UPDATE_KEY=NAME.public.pem\n"
    "Existing files are never overwritten. Only the Linux build makes keys (it uses OpenSSL).\n";

constexpr std::string_view kReplyHelp =
    "Usage: installer-tags reply FILE --url HOST/PATH [--version V]\n"
    "\n"
    "Prints the version reply for the installer FILE: the four lines ver=, size=, consum=, url=, each\n"
    "ended by CR LF, as the setup reads them.\n"
    "\n"
    "  --url HOST/PATH   where FILE is served, without \"http://\" (the setup puts it in front)\n"
    "  --version V       the version to announce, a.b.c.d with each part 0..255; default: the file\n"
    "                    version in FILE's version resource (VS_FIXEDFILEINFO)\n";

struct Arguments {
  std::string file;
  std::map<std::string, std::string, std::less<>> options;

  std::optional<std::string> Option(std::string_view name) const {
    const auto found = options.find(name);
    if (found == options.end()) return std::nullopt;
    return found->second;
  }
};

struct Streams {
  std::ostream& out;
  std::ostream& err;
};

struct Command {
  std::string_view name;
  std::string_view help;
  std::vector<std::string_view> options;  // each takes a value
  int (*run)(const Arguments&, Streams&);
};

int UsageError(std::string_view command, const std::string& message, std::ostream& err) {
  err << "installer-tags " << command << ": " << message << "\nTry 'installer-tags " << command << " --help'.\n";
  return kExitUsage;
}

int Failed(const std::string& file, const std::string& message, std::ostream& err) {
  err << "installer-tags: " << file << ": " << message << "\n";
  return kExitFailed;
}

std::optional<Arguments> Parse(const Command& command, std::span<const std::string> args, std::ostream& err) {
  Arguments parsed;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.starts_with("--")) {
      std::string name = arg.substr(2);
      std::optional<std::string> value;
      if (const std::size_t equals = name.find('='); equals != std::string::npos) {
        value = name.substr(equals + 1);
        name.resize(equals);
      }
      if (std::find(command.options.begin(), command.options.end(), name) == command.options.end()) {
        UsageError(command.name, "unknown option --" + name, err);
        return std::nullopt;
      }
      if (!value) {
        if (i + 1 == args.size()) {
          UsageError(command.name, "--" + name + " needs a value", err);
          return std::nullopt;
        }
        value = args[++i];
      }
      if (!parsed.options.emplace(name, *value).second) {
        UsageError(command.name, "--" + name + " is given twice", err);
        return std::nullopt;
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      UsageError(command.name, "unknown option " + arg, err);
      return std::nullopt;
    } else if (!parsed.file.empty()) {
      UsageError(command.name, "one FILE only, got \"" + parsed.file + "\" and \"" + arg + "\"", err);
      return std::nullopt;
    } else {
      parsed.file = arg;
    }
  }
  if (parsed.file.empty()) {
    UsageError(command.name, "FILE is missing", err);
    return std::nullopt;
  }
  return parsed;
}

// Bytes as text, with anything but printable ASCII written as \xHH.
std::string Printable(std::string_view bytes) {
  std::string text;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      text += c;
    } else {
      text += "\\x" + HexDigits(byte, 2, HexCase::kUpper);
    }
  }
  return text;
}

// The file's bytes and where its tags lie; writes the message and gives std::nullopt when either fails.
struct LoadedFile {
  std::vector<std::uint8_t> bytes;
  TagTarget target;
  std::span<std::uint8_t> Tagged() { return std::span(bytes).subspan(target.offset, target.size); }
};

std::optional<LoadedFile> Load(const std::string& file, std::ostream& err) {
  FileContents contents = ReadFileContents(PathFromUtf8(file), kMaxFileSize);
  if (!contents.problem.empty()) {
    Failed(file, contents.problem, err);
    return std::nullopt;
  }
  LoadedFile loaded{std::move(contents.bytes), {}};
  loaded.target = LocateTagTarget(loaded.bytes);
  if (!loaded.target.problem.empty()) {
    Failed(file, loaded.target.problem, err);
    return std::nullopt;
  }
  return loaded;
}

constexpr std::string_view kEmbeddedNote = " (in the embedded installer, RT_RCDATA 2)";

int Show(const Arguments& args, Streams& io) {
  auto loaded = Load(args.file, io.err);
  if (!loaded) return kExitFailed;
  const TagTarget& target = loaded->target;
  if (target.embedded) {
    io.out << args.file << ": InternetSetup program; embedded installer RT_RCDATA 2, language " << target.language
           << ", " << target.size << " bytes at byte " << target.offset << "\n";
  } else {
    io.out << args.file << ": installer, " << loaded->bytes.size() << " bytes\n";
  }
  const auto tagged = loaded->Tagged();
  const AffiliateTags tags = FindAffiliateTags(tagged);
  for (const auto& [marker, tag] : {std::pair{kAffidMarker, &tags.affid}, std::pair{kAffsidMarker, &tags.affsid}}) {
    std::string name = TagName(marker);
    name.resize(8, ' ');
    if (!*tag) {
      io.out << name << "not found\n";
      continue;
    }
    const TagLocation& location = **tag;
    io.out << name << Printable(location.value) << "  at byte " << target.offset + location.valueOffset;
    if (target.embedded) io.out << " (byte " << location.valueOffset << " of the embedded installer)";
    if (auto problem = CheckTagHeader(tagged, marker, location.markerOffset)) io.out << "; a stamp refuses it: " << *problem;
    io.out << "\n";
  }
  if (HasCertificateTable(loaded->bytes)) io.out << "signed: Authenticode; a stamp invalidates the signature\n";
  return kExitSuccess;
}

int Stamp(const Arguments& args, Streams& io) {
  const auto affid = args.Option("affid");
  const auto affsid = args.Option("affsid");
  if (!affid && !affsid) return UsageError("stamp", "give --affid, --affsid or both", io.err);
  for (const auto& [name, value] : {std::pair{"affid", &affid}, std::pair{"affsid", &affsid}}) {
    if (*value && !IsValidTagValue(**value)) {
      return Failed(args.file,
                    std::string("not stamped: the ") + name + " value \"" + Printable(**value) +
                        "\" is not exactly 8 characters from A-Z a-z 0-9 - _",
                    io.err);
    }
  }
  auto loaded = Load(args.file, io.err);
  if (!loaded) return kExitFailed;
  const bool embedded = loaded->target.embedded;
  const auto tagged = loaded->Tagged();
  if (auto problem = StampAffiliateTags(tagged, affid, affsid)) {
    return Failed(args.file, "not stamped: " + *problem + (embedded ? std::string(kEmbeddedNote) : ""), io.err);
  }

  const std::string output = args.Option("output").value_or(args.file);
  if (HasCertificateTable(loaded->bytes)) {
    io.err << "installer-tags: warning: " << args.file
           << " carries an Authenticode signature, which the stamp invalidates; sign " << output << " again\n";
  }
  if (auto problem = ReplaceFileAtomically(PathFromUtf8(output), loaded->bytes, PathFromUtf8(args.file))) {
    return Failed(args.file, "not stamped: " + *problem + (output == args.file ? "; the file is as it was" : ""),
                  io.err);
  }

  const AffiliateTags tags = FindAffiliateTags(tagged);
  io.out << output << ": stamped";
  const char* separator = " ";
  for (const auto& [marker, given, tag] : {std::tuple{kAffidMarker, affid.has_value(), &tags.affid},
                                          std::tuple{kAffsidMarker, affsid.has_value(), &tags.affsid}}) {
    if (!given) continue;
    io.out << separator << marker << (*tag)->value << " at byte " << loaded->target.offset + (*tag)->valueOffset;
    separator = ", ";
  }
  io.out << (embedded ? kEmbeddedNote : "") << "\n";
  return kExitSuccess;
}

int Checksum(const Arguments& args, Streams& io) {
  const FileContents contents = ReadFileContents(PathFromUtf8(args.file), kMaxFileSize);
  if (!contents.problem.empty()) return Failed(args.file, contents.problem, io.err);
  io.out << "size=" << contents.bytes.size() << "\nconsum=" << ByteSumChecksum(contents.bytes) << "\n";
  return kExitSuccess;
}

int Sha256(const Arguments& args, Streams& io) {
  const FileContents contents = ReadFileContents(PathFromUtf8(args.file), kMaxFileSize);
  if (!contents.problem.empty()) return Failed(args.file, contents.problem, io.err);
  const auto digest = BlankedSha256(contents.bytes);
  if (!digest) return Failed(args.file, "the system's SHA-256 failed", io.err);
  io.out << Sha256LineText(*digest) << "\n";
  return kExitSuccess;
}

int Keygen(const Arguments& args, Streams& io) {
  const std::string privatePath = args.file + ".private.pem";
  const std::string publicPath = args.file + ".public.pem";
  if (auto problem = WriteKeyPair(privatePath, publicPath)) return Failed(args.file, "no key: " + *problem, io.err);
  io.out << privatePath << ": private key, for internetsetup-endpoint --signing-key (keep it secret)\n"
         << publicPath << ": public key, for -DINTERNETSETUP_UPDATE_KEY=" << publicPath << "\n";
  return kExitSuccess;
}

int Reply(const Arguments& args, Streams& io) {
  const auto url = args.Option("url");
  if (!url) return UsageError("reply", "--url HOST/PATH is missing", io.err);
  if (auto problem = CheckReplyUrl(*url)) return Failed(args.file, "no reply: " + *problem, io.err);
  auto loaded = Load(args.file, io.err);
  if (!loaded) return kExitFailed;
  if (loaded->target.embedded) {
    return Failed(args.file,
                  "no reply: this is an InternetSetup program (it embeds an installer as RT_RCDATA 2), "
                  "not an installer for the setup to download",
                  io.err);
  }
  if (auto problem = CheckReplySize(loaded->bytes.size())) return Failed(args.file, "no reply: " + *problem, io.err);

  std::string version;
  if (auto given = args.Option("version")) {
    if (auto problem = CheckReplyVersionText(*given)) return Failed(args.file, "no reply: " + *problem, io.err);
    version = *given;
  } else {
    const FileVersionLookup lookup = ReadImageFileVersion(loaded->bytes);
    if (!lookup.version) return Failed(args.file, "no reply: " + lookup.problem + "; give --version", io.err);
    version = FileVersionText(*lookup.version);
    if (auto problem = CheckReplyVersionText(version)) {
      return Failed(args.file, "no reply: in its version resource " + *problem + "; give --version", io.err);
    }
  }
  io.out << FormatVersionReply(version, static_cast<std::int32_t>(loaded->bytes.size()),
                               ByteSumChecksum(loaded->bytes), *url);
  return kExitSuccess;
}

const Command kCommands[] = {
    {"show", kShowHelp, {}, Show},
    {"stamp", kStampHelp, {"affid", "affsid", "output"}, Stamp},
    {"checksum", kChecksumHelp, {}, Checksum},
    {"sha256", kSha256Help, {}, Sha256},
    {"reply", kReplyHelp, {"url", "version"}, Reply},
    {"keygen", kKeygenHelp, {}, Keygen},
};

bool IsHelp(std::string_view arg) { return arg == "--help" || arg == "-h"; }

}  // namespace

int RunInstallerTags(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    err << kToolHelp;
    return kExitUsage;
  }
  if (IsHelp(args[0]) || args[0] == "help") {
    if (args.size() > 1) {
      for (const Command& command : kCommands) {
        if (command.name == args[1]) {
          out << command.help;
          return kExitSuccess;
        }
      }
    }
    out << kToolHelp;
    return kExitSuccess;
  }
  for (const Command& command : kCommands) {
    if (command.name != args[0]) continue;
    const std::span<const std::string> rest = std::span(args).subspan(1);
    if (std::any_of(rest.begin(), rest.end(), IsHelp)) {
      out << command.help;
      return kExitSuccess;
    }
    const auto parsed = Parse(command, rest, err);
    if (!parsed) return kExitUsage;
    Streams io{out, err};
    return command.run(*parsed, io);
  }
  err << "installer-tags: unknown command \"" << args[0] << "\"\n" << kToolHelp;
  return kExitUsage;
}

}  // namespace isetup::tools
