#pragma once
// What assistive technology (AT-SPI on Linux, UI Automation on Windows) reads of the window beyond
// what Qt gives each kind of widget on its own.

#include <QString>

class QLabel;
class QWidget;

// Installs, once per process, how the window's own kinds of widget are read: the window itself as a
// window (Qt reads a plain top-level widget as a bare client area), its lines as separators, and
// each status value together with its heading ("My IP: 198.51.100.7"), however often it changes.
// Must run before the first such widget is created.
void installAccessibleInterfaces();

// A caption's words, as a name is read: "Username : " gives "Username".
QString captionWords(const QString &caption);

// Ties a caption to the control it names: the caption becomes the control's label (Qt's buddy,
// which assistive technology reads as "labelled by"), and the control is named by its words.
void nameBy(QLabel *caption, QWidget *control);
