#pragma once
// What a page of PageControl1 needs from the window: the shared state, the status bar, and a
// way to bring a page to the front.
#include <QTabWidget>

#include "app/StatusBar.h"
#include "app/ViewerState.h"

namespace vorlr {

struct PageContext {
    ViewerState& state;
    StatusBar& statusBar;
    QTabWidget& pageControl;  // PageControl1
};

}  // namespace vorlr
