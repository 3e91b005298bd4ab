// What a page may ask of the window holding it, so that pages never include the sheet.
#pragma once

// The sheet implements this and hands itself to each page it holds (CFontablePage::Host).
class IPageHost {
public:
    // True between a confirmed close request and the end of the busy pages' jobs: a page
    // that ends its job then shows only failures.
    virtual bool IsClosePending() const = 0;

protected:
    // Not deleted through this interface: the sheet owns its pages, not the other way round.
    ~IPageHost() = default;
};
