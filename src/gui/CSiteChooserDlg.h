#pragma once

#include <QDialog>

#include <string>

class QComboBox;
class QLineEdit;

namespace quiltara {

struct SourceCatalogue;

// "Enter Google Site": the preset sites of the map service in a pure list,
// followed by the tile sources of the catalogue (with a line naming each
// source file that could not be read), and a box for any other address. Typing in the box takes the
// list's choice away (the list then shows none), and choosing a preset empties the box, so the
// dialog always shows which address "Go" will use. The catalogue is read
// only while the dialog is built.
class CSiteChooserDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int kIdOk = 1;
    static constexpr int kIdCancel = 2;

    explicit CSiteChooserDlg(const SourceCatalogue& catalogue, QWidget* parent = nullptr);

    // Runs the dialog modally; kIdOk after "Go", kIdCancel after Escape or the close box.
    int DoModal();

    // The address chosen with "Go": the selected preset, or the custom text
    // when no preset is selected. Empty before "Go".
    const std::string& ChosenSite() const { return chosenSite_; }

    void accept() override;

private:
    QComboBox* sites_;
    QLineEdit* custom_;
    std::string chosenSite_;
};

} // namespace quiltara
