#include "tools/pack/CommandLine.h"

#include "tools/pack/PackagePaths.h"

namespace {

bool ReadThreads(const std::string& text, unsigned* threads, std::string* error)
{
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9' || value > 1000) {
            *error = "--threads needs a number from 1 to 1000";
            return false;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (text.empty() || value == 0 || value > 1000) {
        *error = "--threads needs a number from 1 to 1000";
        return false;
    }
    *threads = value;
    return true;
}

bool ReadLastDayOption(const std::string& text, uint32_t* day, std::string* error)
{
    *day = ReadLastDay(text.c_str());
    if (*day == 0)
        *error = "--expires needs a day as YYYY-MM-DD";
    return *day != 0;
}

// Walks the arguments of one command: options with values ("--name value"
// or "--name=value"), switches, and the words between them, kept in order.
class CArgumentWalk {
public:
    explicit CArgumentWalk(const std::vector<std::string>& arguments) : m_arguments(arguments) {}

    // The next option's name; false at the end. Words on the way are kept.
    bool NextOption(std::string* name)
    {
        while (m_index < m_arguments.size()) {
            const std::string& argument = m_arguments[m_index++];
            if (argument.compare(0, 2, "--") != 0) {
                m_words.push_back(argument);
                continue;
            }
            size_t equals = argument.find('=');
            m_hasInline = equals != std::string::npos;
            m_name = m_hasInline ? argument.substr(0, equals) : argument;
            m_inlineValue = m_hasInline ? argument.substr(equals + 1) : std::string();
            *name = m_name;
            return true;
        }
        return false;
    }

    // True when the option just read came without "=value".
    bool IsSwitch() const { return !m_hasInline; }

    // The value of the option just read.
    bool Value(std::string* value, std::string* error)
    {
        if (m_hasInline) {
            *value = m_inlineValue;
            return true;
        }
        if (m_index >= m_arguments.size()) {
            *error = m_name + " needs a value";
            return false;
        }
        *value = m_arguments[m_index++];
        return true;
    }

    // The value of the option just read as a count of threads.
    bool ThreadCount(unsigned* threads, std::string* error)
    {
        std::string value;
        return Value(&value, error) && ReadThreads(value, threads, error);
    }

    // The value of the option just read as the last day of a signature.
    bool LastDay(uint32_t* day, std::string* error)
    {
        std::string value;
        return Value(&value, error) && ReadLastDayOption(value, day, error);
    }

    // Refuses the option just read; always false.
    bool Unknown(const char* command, std::string* error) const
    {
        *error = std::string(command) + " does not know " + m_name;
        return false;
    }

    const std::vector<std::string>& Words() const { return m_words; }

private:
    const std::vector<std::string>& m_arguments;
    size_t m_index = 1;  // after the command
    std::vector<std::string> m_words;
    std::string m_name;
    std::string m_inlineValue;
    bool m_hasInline = false;
};

bool ParseBuild(const std::vector<std::string>& arguments, PackRequest* request, std::string* error)
{
    BuildOptions& build = request->build;
    CArgumentWalk walk(arguments);
    std::string name, value;
    bool seen[5] = {};
    while (walk.NextOption(&name)) {
        if (name == "--offline" && walk.IsSwitch()) {
            build.offline = true;
            continue;
        }
        static const char* const kValued[] = {"--files",   "--out",      "--title",  "--version",
                                              "--day",     "--previous", "--readme", "--prefix",
                                              "--threads", "--sign",     "--expires"};
        bool known = false;
        for (const char* option : kValued)
            known = known || name == option;
        if (!known)
            return walk.Unknown("build", error);
        if (!walk.Value(&value, error))
            return false;
        if (name == "--files") {
            build.files = PathOfUtf8(value);
            seen[0] = true;
        } else if (name == "--out") {
            build.output = PathOfUtf8(value);
            seen[1] = true;
        } else if (name == "--title") {
            build.title = value;
            seen[2] = true;
        } else if (name == "--version") {
            build.version = value;
            seen[3] = true;
        } else if (name == "--day") {
            build.day = value;
            seen[4] = true;
        } else if (name == "--previous") {
            build.previous = PathOfUtf8(value);
        } else if (name == "--readme") {
            build.readme = PathOfUtf8(value);
        } else if (name == "--prefix") {
            build.prefix = value;
        } else if (name == "--sign") {
            build.signKey = PathOfUtf8(value);
        } else if (name == "--expires") {
            if (!ReadLastDayOption(value, &build.lastDay, error))
                return false;
        } else if (!ReadThreads(value, &build.threads, error)) {
            return false;
        }
    }
    if (!walk.Words().empty()) {
        *error = "build does not know " + walk.Words()[0];
        return false;
    }
    static const char* const kRequired[] = {"--files", "--out", "--title", "--version", "--day"};
    for (int i = 0; i < 5; ++i) {
        if (!seen[i]) {
            *error = std::string("build needs ") + kRequired[i];
            return false;
        }
    }
    if (build.lastDay != 0 && build.signKey.empty()) {
        *error = "--expires goes with --sign";
        return false;
    }
    return true;
}

bool ParseVerify(const std::vector<std::string>& arguments, PackRequest* request,
                 std::string* error)
{
    CArgumentWalk walk(arguments);
    std::string name;
    while (walk.NextOption(&name)) {
        if (name == "--offline" && walk.IsSwitch()) {
            request->verify.offline = true;
        } else if (name == "--threads") {
            if (!walk.ThreadCount(&request->verify.threads, error))
                return false;
        } else if (name == "--key") {
            if (!walk.Value(&request->verify.publicKeys, error))
                return false;
        } else if (name == "--ca-file") {
            if (!walk.Value(&request->caFile, error))
                return false;
        } else {
            return walk.Unknown("verify", error);
        }
    }
    if (walk.Words().size() != 1) {
        *error = "verify needs one package: a folder or an http:// base address";
        return false;
    }
    request->verify.package = walk.Words()[0];
    return true;
}

bool ParseSign(const std::vector<std::string>& arguments, PackRequest* request, std::string* error)
{
    CArgumentWalk walk(arguments);
    std::string name;
    while (walk.NextOption(&name)) {
        if (name == "--offline" && walk.IsSwitch()) {
            request->sign.offline = true;
        } else if (name == "--expires") {
            if (!walk.LastDay(&request->sign.lastDay, error))
                return false;
        } else if (name == "--threads") {
            if (!walk.ThreadCount(&request->sign.threads, error))
                return false;
        } else {
            return walk.Unknown("sign", error);
        }
    }
    if (walk.Words().size() != 2) {
        *error = "sign needs a package folder and a key file";
        return false;
    }
    request->sign.package = PathOfUtf8(walk.Words()[0]);
    request->sign.key = PathOfUtf8(walk.Words()[1]);
    return true;
}

bool ParseStatus(const std::vector<std::string>& arguments, PackRequest* request,
                 std::string* error)
{
    CArgumentWalk walk(arguments);
    std::string name;
    while (walk.NextOption(&name)) {
        if (name != "--ca-file")
            return walk.Unknown("status", error);
        if (!walk.Value(&request->caFile, error))
            return false;
    }
    const std::vector<std::string>& words = walk.Words();
    if (words.empty() || words.size() > 2) {
        *error = "status needs a game folder and, optionally, a package";
        return false;
    }
    request->status.game = words[0];
    request->status.package = words.size() > 1 ? words[1] : std::string();
    return true;
}

bool ParseDigest(const std::vector<std::string>& arguments, PackRequest* request,
                 std::string* error)
{
    CArgumentWalk walk(arguments);
    std::string name;
    while (walk.NextOption(&name)) {
        if (name != "--threads")
            return walk.Unknown("digest", error);
        if (!walk.ThreadCount(&request->threads, error))
            return false;
    }
    request->digestFiles = walk.Words();
    if (request->digestFiles.empty()) {
        *error = "digest needs at least one file";
        return false;
    }
    return true;
}

bool ParseKeygen(const std::vector<std::string>& arguments, PackRequest* request,
                 std::string* error)
{
    if (arguments.size() != 2 || arguments[1].compare(0, 2, "--") == 0) {
        *error = "keygen needs one NAME (it writes NAME.key and NAME.pub)";
        return false;
    }
    request->keyBase = PathOfUtf8(arguments[1]);
    return true;
}

bool ParsePublish(const std::vector<std::string>& arguments, PackRequest* request,
                  std::string* error)
{
    CArgumentWalk walk(arguments);
    std::string name;
    while (walk.NextOption(&name)) {
        if (name != "--threads")
            return walk.Unknown("publish", error);
        if (!walk.ThreadCount(&request->publish.threads, error))
            return false;
    }
    if (walk.Words().size() != 2) {
        *error = "publish needs a package folder and the site folder it goes into";
        return false;
    }
    request->publish.package = PathOfUtf8(walk.Words()[0]);
    request->publish.site = PathOfUtf8(walk.Words()[1]);
    return true;
}

bool ParsePrune(const std::vector<std::string>& arguments, PackRequest* request, std::string* error)
{
    CArgumentWalk walk(arguments);
    std::string name;
    while (walk.NextOption(&name)) {
        if (name != "--delete" || !walk.IsSwitch())
            return walk.Unknown("prune", error);
        request->prune.remove = true;
    }
    if (walk.Words().size() != 1) {
        *error = "prune needs one site folder";
        return false;
    }
    request->prune.site = PathOfUtf8(walk.Words()[0]);
    return true;
}

bool ParseHelp(const std::vector<std::string>&, PackRequest*, std::string*)
{
    return true;
}

struct CommandWord {
    const char* word;
    PackCommand command;
    bool (*parse)(const std::vector<std::string>& arguments, PackRequest* request,
                  std::string* error);
};

// clang-format off
const CommandWord kCommandWords[] = {
    {"--help", PackCommand::Help,   ParseHelp},
    {"-h",     PackCommand::Help,   ParseHelp},
    {"help",   PackCommand::Help,   ParseHelp},
    {"build",  PackCommand::Build,  ParseBuild},
    {"verify", PackCommand::Verify, ParseVerify},
    {"status", PackCommand::Status, ParseStatus},
    {"keygen", PackCommand::Keygen, ParseKeygen},
    {"sign",   PackCommand::Sign,   ParseSign},
    {"digest", PackCommand::Digest, ParseDigest},
    {"publish", PackCommand::Publish, ParsePublish},
    {"prune",  PackCommand::Prune,  ParsePrune},
};
// clang-format on

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& arguments, PackRequest* request,
                      std::string* error)
{
    *request = PackRequest();
    if (arguments.empty()) {
        *error = "no command given";
        return false;
    }
    const std::string& command = arguments[0];
    for (const CommandWord& word : kCommandWords) {
        if (command == word.word) {
            request->command = word.command;
            return word.parse(arguments, request, error);
        }
    }
    *error = "unknown command " + command;
    return false;
}

const char* UsageText()
{
    return "usage:\n"
           "  fernup-pack build --files DIR --out DIR --title TEXT --version N.NN --day TEXT\n"
           "                    [--previous DIR] [--readme FILE] [--prefix PATH/] [--offline]\n"
           "                    [--threads N] [--sign KEY [--expires YYYY-MM-DD]]\n"
           "      Writes a package: update.qdv, MD5.txt, readme.txt and the files. With\n"
           "      --previous, only files whose bytes differ from that release are listed.\n"
           "      Online packages keep each file under --prefix (default files/) at an\n"
           "      address its bytes give (16 hex digits of its SHA-256, then its name), so\n"
           "      an address never changes its bytes; --offline puts each file beside the\n"
           "      definition under the last part of its name.\n"
           "      --sign writes update.sig with the key file KEY (see sign).\n"
           "  fernup-pack keygen NAME\n"
           "      Writes a new key pair: NAME.key (private, readable by you only; never\n"
           "      publish it) and NAME.pub, the public key that a Fernup.exe built with\n"
           "      -DFERNUP_SIGNING_KEYS=<its contents> requires signatures under. NAME's\n"
           "      folder must hold key files only; build and sign refuse folders with keys.\n"
           "  fernup-pack sign [--offline] [--expires YYYY-MM-DD] FOLDER KEY\n"
           "      Writes FOLDER/update.sig: the signature over update.qdv, readme.txt and\n"
           "      the SHA-256 of every listed file. Players refuse it after --expires.\n"
           "  fernup-pack verify [--offline] [--threads N] [--key PUB] [--ca-file PEM]\n"
           "                     FOLDER|http(s)://BASE/\n"
           "      Checks a package as the program will, and what would fail a player's\n"
           "      update later; one line per problem, exit status 1 when there is any.\n"
           "      With --key, update.sig must hold under a key of the .pub file PUB, and\n"
           "      every file must be the one it binds. With --ca-file, https:// servers\n"
           "      must have a certificate from a CA in the PEM file PEM, instead of one\n"
           "      the system trusts (not on Windows, which trusts its own store only).\n"
           "  fernup-pack status [--ca-file PEM] GAME_FOLDER [FOLDER|http(s)://BASE/]\n"
           "      Prints the program's messages for that game and package (without a\n"
           "      package: the URL of the game's update.log), and on standard error how\n"
           "      many files and bytes an update of that folder would fetch. Exit status\n"
           "      0 when the program would offer the update, 1 when not.\n"
           "  fernup-pack publish [--threads N] PACKAGE SITE\n"
           "      Copies a verified online package into SITE, the folder served at the\n"
           "      base address: new files first, none replaced, then readme.txt,\n"
           "      update.sig, MD5.txt and update.qdv, each by rename. Prints the order to\n"
           "      upload in to a remote store.\n"
           "  fernup-pack prune [--delete] SITE\n"
           "      Lists the files under SITE's digest folders that no update.qdv under\n"
           "      SITE lists any more; --delete removes them. Run it a day after a publish.\n"
           "  fernup-pack digest [--threads N] FILE...\n"
           "      Prints MD5 digests like md5sum, several files at once.\n"
           "Exit status 2: the command line or an input could not be used.";
}
