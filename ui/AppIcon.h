#pragma once
#include <QIcon>

// The agent's icon: two overlapping, slightly turned cards. The tray and the
// launcher icons of the package are drawn from it.
QIcon tavloIcon();
