#include "shell/MailPathArgs.h"

#include "base/MailFiles.h"
#include "base/Paths.h"

#include <cstdio>

bool ResolveMailPaths(const std::vector<std::string>& paths, const char* nothing, std::vector<std::string>* full)
{
    const std::string here = CurrentDirectory();
    full->clear();
    bool readable = true;
    for (const std::string& path : paths) {
        full->push_back(path.starts_with('/') ? path : here + "/" + path);
        std::string error;
        if (MailPathKind(full->back(), &error) == EMailPathKind::kUnreadable) {
            std::fprintf(stderr, "orvelane: cannot read %s: %s\n", path.c_str(), error.c_str());
            readable = false;
        }
    }
    if (!readable)
        std::fprintf(stderr, "%s\n", nothing);
    return readable;
}
