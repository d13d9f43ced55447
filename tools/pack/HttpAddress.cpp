#include "tools/pack/HttpClient.h"

#include "support/TextRoutines.h"

bool IsHttpAddress(const std::string& address)
{
    size_t end = address.find("://");
    if (end == std::string::npos)
        return false;
    std::string scheme = address.substr(0, end + 3);
    return SameText(scheme.c_str(), "http://") || SameText(scheme.c_str(), "https://");
}
