#!/usr/bin/python3
"""Checks accessibility_probe the way a screen reader sees it, over AT-SPI.

Signs in through the login window's accessible fields and button, then reads the main window:
every field and button is found by its accessible name with the role a screen reader
announces, the friend list is a table with named columns, and the transcript's text, the file
entry included, reads as a list of named items, showing only while on screen.

    check_accessible.py --pid PID [--timeout SECONDS]
"""

import argparse
import re
import sys
import unicodedata
import time

import pyatspi

R = pyatspi  # the ROLE_ and STATE_ constants

LOGIN_TITLE = "Brindlewick — 로그인"
MAIN_TITLE = "Brindlewick"

# (accessible name, role) of the login window's controls.
LOGIN_CONTROLS = [
    ("전화번호", R.ROLE_TEXT),
    ("닉네임", R.ROLE_TEXT),
    ("상태메시지", R.ROLE_TEXT),
    ("대화하기", R.ROLE_PUSH_BUTTON),
    ("종료", R.ROLE_PUSH_BUTTON),
]

# (accessible name, role, shown while a room is open and the find bar closed).
MAIN_CONTROLS = [
    ("검색", R.ROLE_TEXT, True),
    ("메시지 입력", R.ROLE_TEXT, True),
    ("대화 검색어", R.ROLE_TEXT, False),
    ("친구 추가 또는 메모방 만들기", R.ROLE_PUSH_BUTTON, True),
    ("새로고침", R.ROLE_PUSH_BUTTON, True),
    ("전송", R.ROLE_PUSH_BUTTON, True),
    ("파일", R.ROLE_PUSH_BUTTON, True),
    ("방 나가기", R.ROLE_PUSH_BUTTON, True),
    ("로그아웃", R.ROLE_PUSH_BUTTON, True),
    ("대화 검색", R.ROLE_PUSH_BUTTON, True),
    ("이전 검색 결과", R.ROLE_PUSH_BUTTON, False),
    ("다음 검색 결과", R.ROLE_PUSH_BUTTON, False),
    ("친구 및 채팅 목록", R.ROLE_TABLE, True),
]

TRANSCRIPT = "대화 내용"
# Each message is a list item read as "<sender>, <HH:MM>: <text>" (files: "파일 <name> <size>").
TRANSCRIPT_ITEMS = [r"^서준, \d\d:\d\d: 안녕하세요! 오늘 회의 자료 보셨어요\?$",
                    r"^민지, \d\d:\d\d: 네, 방금 읽었어요\. 3쪽 그래프만 고치면 될 것 같아요\.$",
                    r"^서준, \d\d:\d\d: 파일 회의자료 v2\.pdf 1\.0 MB$",
                    r"^하은, \d\d:\d\d: 지난 이야기 1$"]

failures = []
probe_pid = 0


def fail(message):
    failures.append(message)
    print("FAIL: " + message, file=sys.stderr)


def walk(node):
    yield node
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from walk(child)


def role_name(role):
    return pyatspi.Atspi.role_get_name(role) if hasattr(pyatspi, "Atspi") else str(role)


def showing(node):
    return node.getState().contains(R.STATE_SHOWING)


def text_of(node):
    text = node.queryText()
    return text.getText(0, text.characterCount)


def running(pid):
    """Whether pid runs (a process that ended but was not yet reaped counts as ended)."""
    try:
        with open(f"/proc/{pid}/stat") as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] not in ("Z", "X")
    except OSError:
        return False


def poll(what, probe, timeout):
    """Calls probe until it returns something truthy; gives up (and exits) after timeout or
    when the probe program has ended."""
    deadline = time.monotonic() + timeout
    while True:
        if not running(probe_pid):
            print(f"FAIL: the probe (pid {probe_pid}) ended while waiting for {what}",
                  file=sys.stderr)
            sys.exit(1)
        try:
            found = probe()
        except Exception:  # the tree changes under us while windows come and go
            found = None
        if found:
            return found
        if time.monotonic() > deadline:
            print(f"FAIL: timed out after {timeout}s waiting for {what}", file=sys.stderr)
            sys.exit(1)
        time.sleep(0.05)


def find_app(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def frame(app, title):
    """The frame called title, or title with the unread count the main window adds: "T (3)"."""
    named = re.compile(re.escape(title) + r"( \(\d+\))?")
    for i in range(app.childCount):
        child = app.getChildAtIndex(i)
        if (child is not None and child.getRole() == R.ROLE_FRAME
                and named.fullmatch(child.name or "")):
            return child
    return None


def showing_frame(app, title):
    found = frame(app, title)
    return found if found is not None and showing(found) else None


def control(window, name, role):
    """The one node called name with role under window; reports none or several."""
    matches = [n for n in walk(window) if n.name == name and n.getRole() == role]
    if len(matches) != 1:
        others = sorted({role_name(n.getRole()) for n in walk(window) if n.name == name})
        fail(f"{len(matches)} {role_name(role)} named {name!r} (other roles with that name: "
             f"{others})")
        return None
    return matches[0]


def check_login(window):
    nodes = {}
    for name, role in LOGIN_CONTROLS:
        node = control(window, name, role)
        if node is not None:
            nodes[name] = node
            if not showing(node):
                fail(f"login control {name!r} is not showing")
    for name, role in LOGIN_CONTROLS:
        if role == R.ROLE_TEXT and name in nodes and "EditableText" not in pyatspi.listInterfaces(nodes[name]):
            fail(f"login field {name!r} is not editable through EditableText")
    return nodes


def sign_in(nodes):
    """Types the phone and nickname through EditableText and presses "대화하기"."""
    for name, value in (("전화번호", "01012345678"), ("닉네임", "민지")):
        field = nodes[name]
        if not field.queryEditableText().setTextContents(value):
            fail(f"could not type into {name!r}")
        if text_of(field) != value:
            fail(f"{name!r} reads back {text_of(field)!r} after typing {value!r}")
    action = nodes["대화하기"].queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    if "Press" not in names:
        fail(f"'대화하기' offers no Press action, only {names}")
        sys.exit(1)
    action.doAction(names.index("Press"))


def check_table(table):
    grid = table.queryTable()
    if grid.nColumns != 2:
        fail(f"the list has {grid.nColumns} columns, not 2")
    headers = [n.name for n in walk(table) if n.getRole() == R.ROLE_TABLE_COLUMN_HEADER]
    if headers != ["사진", "이름"]:
        fail(f"the list's column headers are {headers}, not ['사진', '이름']")
    names = [grid.getAccessibleAt(row, 1).name for row in range(grid.nRows)]
    if not any(name.startswith("서준") for name in names) or "하은" not in names:
        fail(f"the list's name column reads {names}, without the friends 서준 and 하은")


def check_transcript(window):
    nodes = [n for n in walk(window) if n.name == TRANSCRIPT]
    if len(nodes) != 1:
        fail(f"{len(nodes)} nodes named {TRANSCRIPT!r}")
        return
    transcript = nodes[0]
    if transcript.getRole() != R.ROLE_LIST:
        fail(f"the transcript's role is {role_name(transcript.getRole())}, not a list")
    items = [transcript.getChildAtIndex(i) for i in range(transcript.childCount)]
    items = [n for n in items if n is not None and n.getRole() == R.ROLE_LIST_ITEM]
    names = [n.name for n in items]
    for pattern in TRANSCRIPT_ITEMS:
        if not any(re.match(pattern, name) for name in names):
            fail(f"no transcript item reads like {pattern!r}: {names}")
    for name in names:
        if any(unicodedata.category(c) in ("Cc", "Cf", "Zl", "Zp") for c in name):
            fail(f"the item {name!r} holds control characters")
    # Only what is on screen is showing: the oldest message is far above, the newest in view.
    oldest = next((n for n in items if n.name.endswith("지난 이야기 1")), None)
    newest = next((n for n in items if "고친 버전 올렸습니다" in n.name), None)
    if oldest is None or showing(oldest):
        fail("the oldest message, scrolled far above, is showing")
    if newest is None or not showing(newest):
        fail("the newest message, at the bottom of the view, is not showing")
    print(f"transcript: {len(items)} items, e.g. {names[-1]!r}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pid", type=int, required=True)
    parser.add_argument("--timeout", type=float, default=20.0)
    args = parser.parse_args()
    global probe_pid
    probe_pid = args.pid

    app = poll("the probe on the accessibility bus", lambda: find_app(args.pid), args.timeout)
    login = poll("the login window", lambda: showing_frame(app, LOGIN_TITLE), args.timeout)
    nodes = check_login(login)
    if failures:
        return 1
    sign_in(nodes)

    main_window = poll("the main window", lambda: showing_frame(app, MAIN_TITLE), args.timeout)
    # The entries arrive right after the window opens.
    poll("the transcript's entries",
         lambda: next((n for n in walk(main_window) if n.name == TRANSCRIPT and n.childCount > 40),
                      None),
         args.timeout)
    login_after = frame(app, LOGIN_TITLE)
    if login_after is not None and showing(login_after):
        fail("the login window still shows after signing in")

    for name, role, shown in MAIN_CONTROLS:
        node = control(main_window, name, role)
        if node is None:
            continue
        if showing(node) != shown:
            fail(f"{name!r} is {'not ' if shown else ''}showing")
        if role == R.ROLE_TEXT and "EditableText" not in pyatspi.listInterfaces(node):
            fail(f"field {name!r} is not editable through EditableText")
        if role == R.ROLE_PUSH_BUTTON and "Action" not in pyatspi.listInterfaces(node):
            fail(f"button {name!r} offers no action")
        if role == R.ROLE_TABLE:
            check_table(node)
    check_transcript(main_window)

    if failures:
        print(f"{len(failures)} accessibility check(s) failed", file=sys.stderr)
        return 1
    print("accessibility checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
