// Opening the first image of a folder with the program the desktop associates with it.
#pragma once

#include <QString>

class CDesktop;
class QWidget;

// Opens the first "*.jpg" file of `folder`, or else its first "*.bmp" file (in the order the
// folder lists them, sub-folders not searched) with `desktop`. Without one, shows "抱歉，在
// 目标目录中找不到可查看的文件。" over `parent` and returns false; when nothing on the system opens
// the file, says so naming the folder and returns false.
bool ViewFolder(CDesktop& desktop, const QString& folder, QWidget* parent);
