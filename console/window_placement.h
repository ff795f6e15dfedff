// Window placements in the Win32 WINDOWPLACEMENT layout (44 bytes), as stored in the settings.
//
// The normal rectangle is the window's outer rectangle (frame included) in screen coordinates,
// right and bottom exclusive; showCmd is the state the window is in (or is to be put in).
#pragma once

#include <QByteArray>
#include <QList>
#include <QRect>
#include <QSize>

#include "platform/types.h"

class QWidget;

constexpr UINT SW_HIDE = 0;
constexpr UINT SW_SHOWNORMAL = 1;
constexpr UINT SW_SHOWMINIMIZED = 2;
constexpr UINT SW_SHOWMAXIMIZED = 3;
constexpr UINT kLastShowCommand = 11;  // SW_FORCEMINIMIZE

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
// that only position and size change for a window not shown yet). A rectangle the user could not
// reach (off every screen, after a monitor was unplugged or the store was damaged) is first
// pulled onto the nearest screen (qv::console::PlaceOnScreens). FALSE for a bad length.
BOOL SetWindowPlacement(QWidget* window, const WINDOWPLACEMENT* placement);

namespace qv::console {

// What the frame adds to the client size (outer minus client). A window not shown yet gets its
// platform window here so that its frame is known when the platform can tell; otherwise zero.
QSize FrameExtra(QWidget* window);
// The outer size of a top-level window: client size plus frame.
QSize OuterSize(QWidget* window);

// Stored rectangles come from a store that may be damaged and hold any numbers: nothing here
// overflows on them.
//
// Gives r the outer size `size` (atLeast: keeps a larger stored size) from its top-left corner;
// a corner so near the end of the coordinate range that the size would not fit moves back just
// enough (such a window is off every screen anyway).
void GiveOuterSize(RECT& r, QSize size, bool atLeast);
// The rectangle as an outer rectangle of at least 1 x 1 pixels, its size kept within what a
// window can have (a right or bottom edge before its left or top gives the smallest size), and
// its right and bottom edges within int.
QRect OuterRectOf(const RECT& rect);

// Why a stored record cannot be a window's placement (a wrong length, an unknown show command,
// an empty or reversed rectangle, one larger than any window); nullptr for a sound record.
// Position is no damage: a window off every screen is pulled onto one.
const char* PlacementDamage(const WINDOWPLACEMENT& placement);

// Where a window of outer rectangle `outer` goes, given the available areas of the screens (the
// screen without task bars and panels). A window that the user can reach stays where it is: its
// top edge (the title bar) lies inside an area, with a grip's width of it inside horizontally;
// only where it is larger than that area does it get the area's extent, within the area.
// Any other window is pulled into the area of the nearest screen (the one it overlaps most, else
// the closest one), keeping its size when it fits; a window larger than the area gets the area's
// size. No areas: the rectangle as it is.
QRect PlaceWithinAreas(const QRect& outer, const QList<QRect>& areas);
// The same with the available areas of the screens present now.
QRect PlaceOnScreens(const QRect& outer);

QByteArray PlacementBytes(const WINDOWPLACEMENT& placement);
// The record at index in a block of records; false when the block is too short for it.
bool PlacementAt(const QByteArray& block, int index, WINDOWPLACEMENT* placement);
// Whether record `index` read from the store is sound; a damaged one (PlacementDamage) is traced,
// and its window keeps its default place.
bool IsSoundStoredPlacement(const WINDOWPLACEMENT& placement, int index);

}  // namespace qv::console
