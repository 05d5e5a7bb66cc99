// Qt's own texts (standard buttons, file dialogs) in Chinese, as the rest of the window.
// Installed once per application, by the first window built: every program that builds the
// window (the tests too) gets them, not only main().
#pragma once

// Loads qtbase_zh_CN from Qt's translations folder into the application; true when it is
// installed (now or before). Without the file, Qt's English texts stay.
bool loadQtTranslations();
