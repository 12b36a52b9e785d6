#pragma once

#include <QDialog>

namespace quiltara {

// The modeless "Toolbar" window beside the main frame, at its full size, with
// no controls yet.
class EmptyControlPanel : public QDialog {
    Q_OBJECT

public:
    explicit EmptyControlPanel(QWidget* parent = nullptr);
};

} // namespace quiltara
