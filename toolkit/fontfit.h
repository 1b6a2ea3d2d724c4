#pragma once

class QLabel;
class QWidget;

namespace toolkit {

// Layouts name the classic dialog font, "MS Sans Serif", which Linux does
// not have. Its stand-ins, tried in order: the fonts drawn to Arial's
// widths (Liberation Sans, Arimo, Arial), which the layouts' captions were
// fitted with, then DejaVu Sans, which every Linux desktop has. With none of
// them Qt takes the desktop's sans serif. Whatever the font, fitLabels()
// keeps every caption whole.
void substituteClassicFonts();

// Fits each label placed directly in `container` to its caption in the font
// it gets, so that every caption is shown whole and no label meets another
// control (it stays 3 pixels clear), on any font and at any scale:
// - A label is as wide as its caption and as high as designed (higher only
//   when a line of its font is higher, growing equally up and down).
// - It keeps the designed edge that matters: the right one when it names a
//   box (its buddy), so its caption ends where designed, before its box; the
//   left one otherwise, so a note or a count grows to the right.
// - Where that edge cannot hold (the caption would leave the container or
//   meet a neighbour), the label moves along its row within the free space
//   around its designed place, at most up to 3 pixels from its own box.
// - Where even the whole free space is too small, the label's font is made
//   smaller by whole pixels until the caption fits. Only that label changes.
// Nothing but the labels moves, and the container keeps its size.
void fitLabels(QWidget *container);

// Fits one label again after its caption changed, from the place and font
// it had when it was first fitted.
void fitLabel(QLabel *label);

} // namespace toolkit
