// Qt's own texts (file dialogs, message box buttons) in Chinese, the language of the page.
#pragma once

class QCoreApplication;

// Installs Qt's Chinese translations from Qt's translations folder (the system's Qt
// translations package). False when they are not installed: Qt's texts stay in English.
bool InstallQtTranslations(QCoreApplication& app);
