// The message boxes every dialog shows its messages through, and Qt's own texts in German.
#pragma once

#include <QString>

#include "engine/types.h"
class QTranslator;

namespace qx {

// The service every dialog shows its messages through: a modal box with one OK button, caption "Quendrix".
MessageBoxService& MessageBoxes();
// Replaces the service (tests install a recorder); nullptr puts the real message boxes back.
void SetMessageBoxService(MessageBoxService* service);

// Puts Qt's German translations in place, so that its standard dialogs and buttons (the folder chooser,
// say) speak German whatever the user's locale. Looks in `folder`, by default where Qt keeps its
// translations. Returns the translator installed (owned by the application), or nullptr when there is none
// to load: the texts then stay Qt's English ones.
QTranslator* InstallQtGermanTexts(const QString& folder = QString());

}  // namespace qx
