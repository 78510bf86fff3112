#pragma once

#include <memory>

class QTranslator;

// Qt's own Chinese translation of its standard texts, so that the buttons of every box and
// dialog read 是/否/确定 like the rest of the window, whatever the user's locale. Keep the
// returned translator as long as the application runs; null when the translation is not
// installed (the buttons then keep Qt's English).
std::unique_ptr<QTranslator> InstallStandardTextTranslation();
