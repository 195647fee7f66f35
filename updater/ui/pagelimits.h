#pragma once

#include <QByteArray>
#include <QUrl>

// What a release-notes page may be to be shown as HTML. The text layout's
// cost grows with nesting (every nested table, list or block is laid out
// inside its parent, recursively) and with the number of elements, so a
// page past either limit, or one that asks for an image larger than the
// viewer would ever draw, is shown as plain text instead: every page
// within the size cap is then on screen at once, and none can exhaust the
// stack or the memory of the host. So is a page larger than kMaxHtmlBytes
// or with a word longer than kMaxWordLength.
namespace PageLimits {

constexpr int kMaxNesting = 24;
constexpr int kMaxElements = 5000;
constexpr int kMaxImageSide = 4096;
// Text without a blank is one word to the layout, which breaks a long one
// slowly.
constexpr int kMaxWordLength = 256;
// The layout's time grows with the text too.
constexpr int kMaxHtmlBytes = 128 * 1024;

// True when html may be handed to the rich-text viewer.
bool showableAsHtml(const QByteArray &html);

// The only links the viewer follows, in the user's own browser: http,
// https and mailto.
bool isOpenableLink(const QUrl &url);

} // namespace PageLimits
