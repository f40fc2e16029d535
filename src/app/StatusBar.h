#pragma once
// StatusBar1: four sunken panels of fixed widths, the last taking the rest of the bar, on a
// control filled with the button face.
#include <QWidget>
#include <string>

class QLabel;

namespace vorlr {

class StatusBar : public QWidget {
    Q_OBJECT
public:
    explicit StatusBar(QWidget* parent = nullptr);
    // Texts are 8-bit (shown as Windows-1252).
    void setPanelText(int index, const std::string& text);
    std::string panelText(int index) const;
    QLabel* panel(int index) const { return panels_[index]; }
    static constexpr int kPanels = 4;

private:
    QLabel* panels_[kPanels] = {};
    std::string texts_[kPanels];
};

}  // namespace vorlr
