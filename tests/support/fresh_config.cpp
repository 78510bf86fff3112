// Linked into every test program and tool run by the tests: its settings go to a folder of
// its own, made fresh for the run and removed after it, never the user's.
#include <QTemporaryDir>

namespace {

struct FreshConfigFolder
{
    QTemporaryDir folder;
    FreshConfigFolder() { qputenv("XDG_CONFIG_HOME", folder.path().toUtf8()); }
};

const FreshConfigFolder g_freshConfigFolder;

}  // namespace
