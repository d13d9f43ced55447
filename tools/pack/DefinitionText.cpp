#include "tools/pack/DefinitionText.h"

#include <cstring>

#include "core/DefinitionCheck.h"
#include "core/DefinitionPackage.h"
#include "support/ByteArea.h"
#include "support/ProfileText.h"

std::string FileKey(int number)
{
    char key[kFileKeyCapacity];
    FormatFileKey(key, number);
    return key;
}

bool LoadIntoReader(const std::string& text)
{
    char* area = static_cast<char*>(AllocArea(static_cast<uint32_t>(text.size())));
    if (area == nullptr) {
        ProfileText::LoadText(nullptr, 0);
        return false;
    }
    std::memcpy(area, text.data(), text.size());
    ProfileText::LoadText(area, static_cast<uint32_t>(text.size()));
    return true;
}

std::string ComposeDefinition(const DefinitionHead& head, const std::vector<PackEntry>& entries)
{
    std::string text = "[UPDATE_VER]\r\nNAME=" + head.title + "\r\nVER=" + head.version +
                       "\r\nDAY=" + head.day + "\r\n[UPDATE_FILE]\r\n";
    int number = 1;
    for (const PackEntry& entry : entries)
        text += FileKey(number++) + "=" + entry.source + "," + entry.target + "," +
                std::to_string(entry.size) + "," + entry.md5 + "\r\n";
    return text;
}

std::string ReadBackFault(const std::string& text, const DefinitionHead& head,
                          const std::vector<PackEntry>& entries)
{
    if (!LoadIntoReader(text))
        return "no memory to read the definition back";
    InstalledFacts installed = {head.title.c_str(), "1.00", "", 100, false};
    DefinitionVerdict verdict;
    JudgeLoadedDefinition(installed, &verdict);
    std::string fault;
    if (verdict.outcome != kDefinitionNewer)
        fault = "the program would not offer it as an update of 1.00";
    else if (head.version != verdict.newVersion || head.day != verdict.newDay)
        fault = "the program reads another version or day";
    bool complete = false;
    UpdateFileEntry* chain = ReadLoadedFileList(&complete);
    const UpdateFileEntry* read = chain;
    for (size_t i = 0; fault.empty() && i < entries.size(); ++i) {
        const PackEntry& entry = entries[i];
        if (read == nullptr) {
            fault = "the program reads only " + std::to_string(i) + " of its files";
            break;
        }
        if (entry.source != read->sourcePath || entry.target != read->targetPath ||
            static_cast<int64_t>(entry.size) != read->size || entry.md5 != read->md5)
            fault = "the program reads " + FileKey(static_cast<int>(i + 1)) + " otherwise";
        read = read->next;
    }
    if (fault.empty() && (read != nullptr || !complete))
        fault = "the program reads another number of files";
    FreeEntryChain(chain);
    ProfileText::ReleaseText();
    return fault;
}
