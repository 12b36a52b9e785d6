#pragma once

#include <QGroupBox>

#include <string>
#include <vector>

#include "run/RunImages.h"

class QListWidget;
class QScrollArea;
class QVBoxLayout;

namespace quiltara {

// "Images made": what the last run saved, one entry per image (layers and
// composites alike) with a preview, the file's name in full, its size in
// pixels and on disk, and buttons that open the image and its folder. It
// stands at the bottom of the control panel, as wide as the panel and as
// tall as the rest of it, and the panel grows to show it when it appears.
class RunImagesList : public QGroupBox {
    Q_OBJECT

public:
    // panel: the window it belongs to; top: its top edge, in dialog units.
    RunImagesList(QWidget* panel, int top);

    // The images of a run; none hides the list.
    void ShowImages(const std::vector<RunImage>& images);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void AddEntry(const RunImage& image);
    // Fills the panel's width and the height below top.
    void FitToPanel();
    // Makes the panel tall enough to show a few entries whole.
    void GrowPanel();

    QWidget* panel_;
    int top_;
    QScrollArea* scroll_ = nullptr;
    QWidget* entries_ = nullptr;
    QVBoxLayout* layout_ = nullptr;
};

// Ends the progress list with a line per image of the outcome ("Saved" and
// the path, or why it was not saved); gives the folder of the images saved,
// or an empty text when none was.
std::string AddSavedLines(QListWidget* progress, const CreateMapOutcome& outcome);

} // namespace quiltara
