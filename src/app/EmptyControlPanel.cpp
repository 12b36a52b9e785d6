#include "app/EmptyControlPanel.h"

#include "app/AppIcon.h"
#include "app/DialogUnits.h"

namespace quiltara {

EmptyControlPanel::EmptyControlPanel(QWidget* parent) : QDialog(parent, kDialogFlags) {
    setWindowTitle(QStringLiteral("Toolbar"));
    setWindowIcon(AppIcon());
    setModal(false);
    resize(DialogUnits(font()).Size(255, 275));
}

} // namespace quiltara
