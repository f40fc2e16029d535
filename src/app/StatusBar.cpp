#include "app/StatusBar.h"

#include <QHBoxLayout>
#include <QLabel>

#include "platform/Text.h"

namespace vorlr {

StatusBar::StatusBar(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("StatusBar1"));
    // A control of its own on the button face: a tiled window background stays outside it.
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Button));
    setPalette(pal);
    setAutoFillBackground(true);
    static const char* const kStart[kPanels] = {"File name:", "Offset: ", "Size:", "File type:"};
    static const int kWidths[kPanels] = {300, 125, 125, 50};
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    for (int i = 0; i < kPanels; ++i) {
        panels_[i] = new QLabel(this);
        panels_[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panels_[i]->setTextFormat(Qt::PlainText);
        panels_[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        if (i < kPanels - 1) {
            panels_[i]->setFixedWidth(kWidths[i]);
            layout->addWidget(panels_[i]);
        } else {
            panels_[i]->setMinimumWidth(kWidths[i]);
            layout->addWidget(panels_[i], 1);
        }
        setPanelText(i, kStart[i]);
    }
}

void StatusBar::setPanelText(int index, const std::string& text) {
    if (index < 0 || index >= kPanels) return;
    texts_[index] = text;
    panels_[index]->setText(fromCp1252(text));
}

std::string StatusBar::panelText(int index) const {
    return index >= 0 && index < kPanels ? texts_[index] : std::string();
}

}  // namespace vorlr
