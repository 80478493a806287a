#pragma once
// The transcript as screen readers see it: a list named as the view is ("대화 내용") whose
// children are the rows, each named as TranscriptModel::spokenText reads it and "showing" only
// while on screen; the "새 메시지" button follows the rows while it is shown.

class QAccessibleInterface;
class QObject;
class QString;

namespace brindlewick {

class MessageListView;

// The child standing for the row numbered `seq` (TranscriptModel::seqOf).
QAccessibleInterface* makeRowAccessible(MessageListView* view, int seq);
// Installed once, by the first MessageListView.
QAccessibleInterface* transcriptAccessibleFactory(const QString& className, QObject* object);

} // namespace brindlewick
