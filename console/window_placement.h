// Window placements in the Win32 WINDOWPLACEMENT layout (44 bytes), as stored in the settings.
//
// The normal rectangle is the window's outer rectangle (frame included) in screen coordinates,
// right and bottom exclusive; showCmd is the state the window is in (or is to be put in).
#pragma once

#include <QByteArray>
#include <QSize>

#include "platform/types.h"

class QWidget;

constexpr UINT SW_HIDE = 0;
constexpr UINT SW_SHOWNORMAL = 1;
constexpr UINT SW_SHOWMINIMIZED = 2;
constexpr UINT SW_SHOWMAXIMIZED = 3;

struct WINDOWPLACEMENT {
  UINT length;
  UINT flags;
  UINT showCmd;
  POINT ptMinPosition;
  POINT ptMaxPosition;
  RECT rcNormalPosition;
};
static_assert(sizeof(WINDOWPLACEMENT) == 44);

// Reads the placement of a top-level widget: its normal (not minimised, not maximised) outer
// rectangle and its state.
BOOL GetWindowPlacement(QWidget* window, WINDOWPLACEMENT* placement);
// Gives the window the normal rectangle and puts it into showCmd's state (SW_HIDE hides it, so
// that only position and size change for a window not shown yet). FALSE for a bad length.
BOOL SetWindowPlacement(QWidget* window, const WINDOWPLACEMENT* placement);

namespace qv::console {

// What the frame adds to the client size (outer minus client). A window not shown yet gets its
// platform window here so that its frame is known when the platform can tell; otherwise zero.
QSize FrameExtra(QWidget* window);
// The outer size of a top-level window: client size plus frame.
QSize OuterSize(QWidget* window);

QByteArray PlacementBytes(const WINDOWPLACEMENT& placement);
// The record at index in a block of records; false when the block is too short for it.
bool PlacementAt(const QByteArray& block, int index, WINDOWPLACEMENT* placement);

}  // namespace qv::console
