#pragma once

#include <QWidget>

// The editor window's root view. It takes keyboard focus whenever the
// controller hands it back (after a delay commit, for instance) so that the
// editor's keys reach the window rather than a field. Routing those keys to the
// controller arrives with the editor window. GUI thread only.
class EditorContentView : public QWidget {
    Q_OBJECT

public:
    explicit EditorContentView(QWidget *parent = nullptr);
};
