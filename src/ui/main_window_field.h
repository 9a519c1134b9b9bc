#pragma once

// What the main window keeps for its field features (main_window_field.cpp).

#include "capture_file.h"
#include "capture_replay.h"
#include "colour_legend.h"
#include "main_window.h"
#include "route_progress.h"
#include "undo_stack.h"
#include "unread_meters_window.h"

#include <QAction>

#include <memory>

namespace palvero {

struct TForm1::Field {
    explicit Field(MeterTable& table)
        : undo(table)
        , route(table)
    {
    }

    UndoStack undo;
    RouteProgress route;
    CaptureWriter capture;
    bool captureReported = false;
    bool follow = true;
    QAction* undoAction = nullptr;
    QAction* followAction = nullptr;
    QAction* replayAction = nullptr;
    QAction* startStopAction = nullptr;
    // The windows go before the route they show.
    std::unique_ptr<CaptureReplay> replay;
    std::unique_ptr<TUnreadMeters> unread;
    std::unique_ptr<TColourLegend> legend;
};

} // namespace palvero
