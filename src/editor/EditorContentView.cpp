#include "editor/EditorContentView.h"

EditorContentView::EditorContentView(QWidget *parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
}
