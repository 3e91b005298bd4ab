// The About dialog: product, version, author, and links to the author's mail and homepage.
#pragma once

#include <QDialog>

class CDesktop;
class CLinkLabel;

class CAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit CAboutBox(CDesktop& desktop, QWidget* parent = nullptr);

    CLinkLabel* EmailLink() const { return m_pEmailLink; }
    CLinkLabel* HomepageLink() const { return m_pHomepageLink; }

    static const char* AuthorEmail() { return "tarnwick@example.invalid"; }
    static const char* Homepage() { return "https://tarnwick.example.org/"; }

private:
    CLinkLabel* m_pEmailLink = nullptr;
    CLinkLabel* m_pHomepageLink = nullptr;
};
