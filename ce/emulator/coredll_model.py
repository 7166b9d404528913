"""A model of Windows CE's coredll for the emulated program: the simulated device's rules
(sim/README.md), answering the real exe's calls with CE's structure layouts.

Time is virtual: it moves only when the program waits in GetMessageW (or a message box's
own loop) with nothing due, jumping to the next scheduled input or timer expiry. Input is
scheduled as a real keyboard makes it: a held key repeats its key-down after 500 ms every
40 ms. Message boxes run their own message loop for as long as the scenario keeps them open,
so the window procedure is entered again from inside them.
"""
import heapq

from arm_machine import HEAP_BASE, HEAP_SIZE, Call, EmulationFault

WM_CREATE, WM_DESTROY, WM_PAINT, WM_CLOSE, WM_QUIT, WM_ERASEBKGND = 0x1, 0x2, 0xF, 0x10, 0x12, 0x14
WM_KEYDOWN, WM_KEYUP, WM_TIMER = 0x100, 0x101, 0x113
WM_LBUTTONDOWN, WM_LBUTTONUP, WM_HOTKEY = 0x201, 0x202, 0x312
WS_CAPTION, WS_VISIBLE = 0x00C00000, 0x10000000
SW_HIDE = 0
NIM_ADD, NIM_MODIFY, NIM_DELETE = 0, 1, 2
NIF_MESSAGE, NIF_ICON, NIF_TIP = 1, 2, 4
SEE_MASK_NOCLOSEPROCESS = 0x40
WAIT_OBJECT_0, WAIT_TIMEOUT, WAIT_FAILED = 0, 258, 0xFFFFFFFF
ERROR_ALREADY_EXISTS = 183
INVALID_HANDLE_VALUE = 0xFFFFFFFF
GENERIC_READ, GENERIC_WRITE = 0x80000000, 0x40000000
OPEN_EXISTING = 3
FILE_BEGIN, FILE_CURRENT, FILE_END = 0, 1, 2
MB_TYPE_MASK, MB_OK, MB_YESNO = 0xF, 0, 4
IDOK, IDCANCEL, IDYES, IDNO = 1, 2, 6, 7
SM_CXICON, SM_CYICON, SM_CYCAPTION = 11, 12, 4
BLACK_PEN = 7
SPI_GETWORKAREA = 48
KEYEVENTF_KEYUP = 2
MINIMUM_TIMER_PERIOD = 10
LAST_RESERVED_TRAY_ID = 12   # the Pocket PC shell's own notification icon ids: 0 to 12
SYSTEM_ICON_SIZE = 32        # SM_CXICON and SM_CYICON on these devices
REPEAT_DELAY, REPEAT_INTERVAL = 500, 40
MESSAGE_STORM = 100000
SYSTEM_MEMORY = 0x0D000000   # the model's own structures (CREATESTRUCT) live here
SYSTEM_MEMORY_SIZE = 0x10000
BYTE_FILL_NEW, BYTE_FILL_FREED = 0xCD, 0xDD
CAPTION_HEIGHT, BORDER_WIDTH, WORK_AREA = 26, 1, (0, 0, 240, 294)   # a 240 x 320 screen

# The Windows CE structures the model reads and writes: the fields it takes as 32-bit words
# from the start, in memory order, and the whole size in bytes. tests/ce/emulate/layouts_test.py
# holds them to the device program's declarations (platform/wince/coredll.h).
STRUCTURES = {
    "MSG": (("hwnd", "message", "wParam", "lParam", "time", "pt.x", "pt.y"), 28),
    "WNDCLASSW": (("style", "lpfnWndProc", "cbClsExtra", "cbWndExtra", "hInstance", "hIcon",
                   "hCursor", "hbrBackground", "lpszMenuName", "lpszClassName"), 40),
    "CREATESTRUCTW": (("lpCreateParams", "hInstance", "hMenu", "hwndParent", "cy", "cx", "y",
                       "x", "style", "lpszName", "lpszClass", "dwExStyle"), 48),
    "PAINTSTRUCT": (("hdc", "fErase", "rcPaint.left", "rcPaint.top", "rcPaint.right",
                     "rcPaint.bottom"), 64),
    "RECT": (("left", "top", "right", "bottom"), 16),
    "SHELLEXECUTEINFO": (("cbSize", "fMask", "hwnd", "lpVerb", "lpFile", "lpParameters",
                          "lpDirectory", "nShow", "hInstApp", "lpIDList", "lpClass", "hkeyClass",
                          "dwHotKey", "hIcon", "hProcess"), 60),
    "NOTIFYICONDATA": (("cbSize", "hWnd", "uID", "uFlags", "uCallbackMessage", "hIcon"), 152),
}


def structure_words(structure):
    """How many 32-bit words of the structure the model reads or writes."""
    return len(STRUCTURES[structure][0])


def field_offset(structure, field):
    return 4 * STRUCTURES[structure][0].index(field)


def structure_size(structure):
    return STRUCTURES[structure][1]


def exported(argument_count):
    """Marks a method as the stand-in of the coredll function of the same name."""
    def mark(method):
        method.argument_count = argument_count
        return method
    return mark


def signed(value):
    return value - (1 << 32) if value & 0x80000000 else value


class Window:
    def __init__(self, class_name, title, style, x, y, width, height, proc, brush):
        self.class_name, self.title, self.style = class_name, title, style
        self.x, self.y, self.width, self.height = x, y, width, height
        self.proc, self.brush = proc, brush
        self.visible = self.destroyed = self.destroying = False
        self.invalid = self.erase = False


class Coredll:
    """The device and its coredll. Scenario hooks: at(), key_down/up, tap_tray_icon, close."""

    def __init__(self, files, module_path="\\Windows\\Kurvix.exe", sign_extend_short=False,
                 tick_start=0, boxes=()):
        self.files = {self._path_key(path): data for path, data in files.items()}
        self.module_path = module_path
        self.sign_extend_short = sign_extend_short
        self.tick_start = tick_start
        self.box_plans = list(boxes)   # (milliseconds open, answer or None) per box, in order
        self.now = 0
        self.calls = []                # (name, arguments) of every call, in order
        self.actions, self.action_count = [], 0
        self.queue, self.quit_code = [], None
        self.windows, self.classes, self.foreground = {}, {}, 0
        self.hot_keys, self.timers, self.others_hot_keys = [], {}, set()
        self.keys_down, self.repeating_key, self.repeat_generation = set(), None, 0
        self.injected_keys, self.keys_to_others = [], []
        self.tray_icons, self.tray_calls = {}, []
        self.programs, self.processes = [], {}
        self.open_files, self.mutexes, self.last_error = {}, {}, 0
        self.boxes, self.open_boxes = [], 0
        self.drawn, self.gdi_errors, self.pens, self.selected = [], [], set(), {}
        self.blocks, self.heap_next = {}, HEAP_BASE
        self.misuses = []              # frees and closes of what is not there
        self.icons, self.handle_count = {}, 0
        self.messages_this_instant, self.system_next = 0, SYSTEM_MEMORY
        self.machine = None

    def attach(self, machine):
        self.machine = machine
        machine.uc.mem_map(SYSTEM_MEMORY, SYSTEM_MEMORY_SIZE)

    def stand_in(self, name):
        """The stand-in of the coredll function `name` (reading its arguments), or None."""
        method = getattr(self, name, None)
        count = getattr(method, "argument_count", None)
        if count is None:
            return None

        def call(machine):
            arguments = [machine.argument(i) for i in range(count)]
            self.calls.append((name, tuple(arguments)))
            return method(*arguments)
        return call

    # ---- helpers --------------------------------------------------------------------------

    def fail(self, text):
        raise EmulationFault(text)

    def new_handle(self):
        self.handle_count += 1
        return 0x00A00000 + 4 * self.handle_count

    def system_alloc(self, size):
        address = self.system_next
        self.system_next += (size + 7) & ~7
        if self.system_next > SYSTEM_MEMORY + SYSTEM_MEMORY_SIZE:
            self.fail("the model's own memory is used up: more windows than a test makes")
        return address

    def tick(self):
        return (self.tick_start + self.now) & 0xFFFFFFFF

    @staticmethod
    def _path_key(path):
        """Paths compare without regard to ASCII case, with \\ and / alike."""
        return "".join(unit.lower() if unit < "\x80" else unit
                       for unit in path.replace("/", "\\"))

    def live(self, handle):
        window = self.windows.get(handle)
        return window if window is not None and not window.destroyed else None

    def client_rect(self, window):
        width, height = window.width, window.height
        if window.style & WS_CAPTION == WS_CAPTION:
            width = width - 2 * BORDER_WIDTH
            height = height - CAPTION_HEIGHT - 2 * BORDER_WIDTH
        return (0, 0, max(width, 0), max(height, 0))

    def calls_named(self, *names):
        return [(name, arguments) for name, arguments in self.calls if name in names]

    # ---- scenario input -------------------------------------------------------------------

    def at(self, time, action):
        heapq.heappush(self.actions, (time, self.action_count, action))
        self.action_count += 1

    def press(self, key, down_at, up_at):
        self.at(down_at, lambda: self.key_down(key))
        self.at(up_at, lambda: self.key_up(key))

    def key_down(self, key):
        self.repeat_generation += 1
        self._key_event(key, True)
        self.repeating_key = key
        self._schedule_repeat(REPEAT_DELAY, self.repeat_generation)

    def key_up(self, key):
        if self.repeating_key == key:
            self.repeat_generation += 1
        self._key_event(key, False)

    def _schedule_repeat(self, after, generation):
        def repeat():
            if generation != self.repeat_generation or self.repeating_key not in self.keys_down:
                return
            self._key_event(self.repeating_key, True, repeat=True)
            self._schedule_repeat(REPEAT_INTERVAL, generation)
        self.at(self.now + after, repeat)

    def hold_hot_key(self, key):
        """Another program registers the key first: its presses then go to that program."""
        self.others_hot_keys.add(key)

    def tap_tray_icon(self):
        for (window, icon_id), icon in self.tray_icons.items():
            self._post(window, icon["message"], icon_id, WM_LBUTTONDOWN)

    def tap(self, x, y):
        """A tap with the pen on the shown window, at client coordinates."""
        for handle, window in self.windows.items():
            if not window.destroyed and window.visible:
                self._post(handle, WM_LBUTTONDOWN, 1, (y << 16) | x)
                self._post(handle, WM_LBUTTONUP, 0, (y << 16) | x)

    def close(self):
        """The window's close button: only a shown window has one."""
        for handle, window in self.windows.items():
            if not window.destroyed and window.visible:
                self._post(handle, WM_CLOSE, 0, 0)

    def _key_event(self, key, down, flags=0, injected=False, repeat=False):
        (self.keys_down.add if down else self.keys_down.discard)(key)
        if down and key in self.others_hot_keys:
            self.keys_to_others.append((key, down, flags, injected, repeat))
            return
        if down:
            for owner, hot_key_id, modifiers, virtual_key in self.hot_keys:
                if modifiers == 0 and virtual_key == key:
                    self._post(owner, WM_HOTKEY, hot_key_id, key << 16)
                    return
        focus = self.live(self.foreground)
        if focus is not None and focus.visible:
            parameter = 0xC0000001 if not down else 0x40000001 if repeat else 1
            self._post(self.foreground, WM_KEYDOWN if down else WM_KEYUP, key, parameter)
        else:
            self.keys_to_others.append((key, down, flags, injected, repeat))

    # ---- the queue ------------------------------------------------------------------------

    def _post(self, window, message, w_param, l_param):
        if window == 0 or self.live(window) is not None:
            self.queue.append((window, message, w_param, l_param))

    def _run_due_actions(self):
        while self.actions and self.actions[0][0] <= self.now:
            heapq.heappop(self.actions)[2]()

    def _next_event_time(self):
        times = [self.actions[0][0]] if self.actions else []
        times += [timer["due"] for (window, _), timer in self.timers.items() if self.live(window)]
        return min(times) if times else None

    def _advance(self, time):
        if time > self.now:
            self.now = time
            self.messages_this_instant = 0

    def _take_due(self, with_quit):
        """The next message due now: posted ones, WM_QUIT, WM_PAINT, then an expired timer."""
        message = None
        if self.queue:
            message = self.queue.pop(0)
        elif with_quit and self.quit_code is not None:
            message, self.quit_code = (0, WM_QUIT, self.quit_code, 0), None
            return message
        else:
            painted = [h for h, w in self.windows.items()
                       if not w.destroyed and w.visible and w.invalid]
            expired = [(timer["due"], key) for key, timer in self.timers.items()
                       if timer["due"] <= self.now and self.live(key[0])]
            if painted:
                message = (painted[0], WM_PAINT, 0, 0)
            elif expired:
                key = min(expired)[1]
                timer = self.timers[key]
                # Retrieving the tick restarts the period: missed ticks never pile up.
                timer["due"] = self.now + max(timer["period"], MINIMUM_TIMER_PERIOD)
                message = (key[0], WM_TIMER, key[1], timer["proc"])
        if message is not None:
            self.messages_this_instant += 1
            if self.messages_this_instant > MESSAGE_STORM:
                self.fail("the program takes message after message without the clock moving")
        return message

    def _write_message(self, address, message):
        window, number, w_param, l_param = message
        self.machine.write_words(address, [window, number, w_param, l_param, self.tick(), 0, 0])

    def _dispatch(self, message):
        window, number, w_param, l_param = message
        if number == WM_TIMER and l_param != 0:
            if self.live(window) is not None:
                yield Call(l_param, [window, WM_TIMER, w_param, self.tick()])
            return 0
        return (yield from self._send(window, number, w_param, l_param))

    def _send(self, handle, message, w_param, l_param):
        window = self.live(handle)
        if window is None:
            return 0
        return (yield Call(window.proc, [handle, message, w_param, l_param]))

    @exported(4)
    def GetMessageW(self, message, window, filter_min, filter_max):
        if window or filter_min or filter_max:
            self.fail("GetMessageW with a filter is not modelled")
        while True:
            self._run_due_actions()
            due = self._take_due(with_quit=True)
            if due is not None:
                self._write_message(message, due)
                return 0 if due[1] == WM_QUIT else 1
            next_time = self._next_event_time()
            if next_time is None:
                self.fail("GetMessageW would wait forever: nothing posted, no timer, no input")
            self._advance(next_time)

    @exported(1)
    def TranslateMessage(self, message):
        return 0

    @exported(1)
    def DispatchMessageW(self, message):
        window, number, w_param, l_param = self.machine.read_words(message, 4)
        return (yield from self._dispatch((window, number, w_param, l_param)))

    @exported(4)
    def PostMessageW(self, window, message, w_param, l_param):
        if window != 0 and self.live(window) is None:
            return 0
        self._post(window, message, w_param, l_param)
        return 1

    @exported(1)
    def PostQuitMessage(self, exit_code):
        self.quit_code = exit_code

    # ---- message boxes --------------------------------------------------------------------

    @exported(4)
    def MessageBoxW(self, owner, text, caption, box_type):
        box = {"owner": owner, "text": self.machine.read_wide(text),
               "caption": self.machine.read_wide(caption), "type": box_type,
               "depth": self.open_boxes + 1, "opened": self.now}
        self.boxes.append(box)
        plan = self.box_plans.pop(0) if self.box_plans else (0, None)
        default = {MB_OK: IDOK, MB_YESNO: IDNO}.get(box_type & MB_TYPE_MASK, IDCANCEL)
        # A posted WM_QUIT ends a box at once, with its default answer, and stays posted.
        if self.quit_code is None:
            self.open_boxes += 1
            yield from self._modal_loop(self.now + plan[0])
            self.open_boxes -= 1
        answer = plan[1] if plan[1] is not None and self.quit_code is None else default
        box["answer"] = answer
        return answer

    def _modal_loop(self, close_at):
        while self.quit_code is None:
            self._run_due_actions()
            due = self._take_due(with_quit=False)
            if due is not None:
                yield from self._dispatch(due)
                continue
            if self.now >= close_at:
                return
            next_time = self._next_event_time()
            self._advance(close_at if next_time is None else min(next_time, close_at))

    # ---- hot keys, timers, keyboard -------------------------------------------------------

    @exported(4)
    def RegisterHotKey(self, window, hot_key_id, modifiers, virtual_key):
        if window != 0 and self.live(window) is None:
            return 0
        if modifiers == 0 and virtual_key in self.others_hot_keys:
            return 0
        if any(m == modifiers and k == virtual_key for _, _, m, k in self.hot_keys):
            return 0
        self.hot_keys.append((window, signed(hot_key_id), modifiers, virtual_key))
        return 1

    @exported(2)
    def UnregisterHotKey(self, window, hot_key_id):
        for entry in self.hot_keys:
            if entry[0] == window and entry[1] == signed(hot_key_id):
                self.hot_keys.remove(entry)
                return 1
        return 0

    @exported(4)
    def SetTimer(self, window, timer_id, elapse, proc):
        if window == 0:
            self.fail("SetTimer without a window is not modelled")
        if self.live(window) is None:
            return 0
        self.timers[(window, timer_id)] = {
            "period": elapse, "proc": proc,
            "due": self.now + max(elapse, MINIMUM_TIMER_PERIOD)}
        return timer_id

    @exported(2)
    def KillTimer(self, window, timer_id):
        return 1 if self.timers.pop((window, timer_id), None) is not None else 0

    @exported(1)
    def GetAsyncKeyState(self, virtual_key):
        # The result is a SHORT; which extension CE gives it in r0 is not documented.
        if virtual_key not in self.keys_down:
            return 0
        return 0xFFFF8000 if self.sign_extend_short else 0x8000

    @exported(4)
    def keybd_event(self, virtual_key, scan_code, flags, extra):
        down = not flags & KEYEVENTF_KEYUP
        self.injected_keys.append((virtual_key, down, flags, self.now))
        self._key_event(virtual_key & 0xFF, down, flags, injected=True)

    @exported(0)
    def GetTickCount(self):
        return self.tick()

    # ---- windows --------------------------------------------------------------------------

    @exported(1)
    def RegisterClassW(self, window_class):
        fields = self.machine.read_words(window_class, structure_words("WNDCLASSW"))
        style, proc, _, _, instance, icon, cursor, brush, menu, name = fields
        if proc == 0 or name < 0x10000:
            return 0
        key = self.machine.read_wide(name).lower()
        if key in self.classes:
            return 0
        self.classes[key] = {"name": self.machine.read_wide(name), "proc": proc,
                             "brush": brush, "instance": instance}
        return 0xC000 + len(self.classes)

    @exported(12)
    def CreateWindowExW(self, ex_style, class_name, title, style, x, y, width, height,
                        parent, menu, instance, parameter):
        if class_name < 0x10000:
            self.fail("CreateWindowExW: classes are modelled by name only")
        window_class = self.classes.get(self.machine.read_wide(class_name).lower())
        if window_class is None:
            return 0
        handle = self.new_handle()
        self.windows[handle] = Window(window_class["name"], self.machine.read_wide(title), style,
                                      signed(x), signed(y), signed(width), signed(height),
                                      window_class["proc"], window_class["brush"])
        creation = self.system_alloc(structure_size("CREATESTRUCTW"))
        self.machine.write_words(creation, [parameter, instance, menu, parent, height, width,
                                            y, x, style, title, class_name, ex_style])
        result = yield from self._send(handle, WM_CREATE, 0, creation)
        if result == 0xFFFFFFFF:
            yield from self._destroy(handle)
        if self.live(handle) is None:
            return 0
        if style & WS_VISIBLE:
            self._show(handle, 5)
        return handle

    def _destroy(self, handle):
        window = self.live(handle)
        if window is None or window.destroying:
            return 0
        window.destroying, window.visible = True, False
        yield from self._send(handle, WM_DESTROY, 0, 0)
        window.destroyed, window.invalid = True, False
        self.queue = [posted for posted in self.queue if posted[0] != handle]
        if self.foreground == handle:
            self.foreground = 0
        return 1

    @exported(1)
    def DestroyWindow(self, handle):
        return (yield from self._destroy(handle))

    def _invalidate(self, window, erase):
        window.invalid = True
        window.erase = window.erase or erase

    def _show(self, handle, command):
        window = self.live(handle)
        if window is None:
            return 0
        was_visible = window.visible
        if command == SW_HIDE:
            window.visible = False
        elif not was_visible:
            window.visible = True
            self._invalidate(window, True)
        return 1 if was_visible else 0

    @exported(2)
    def ShowWindow(self, handle, command):
        return self._show(handle, command)

    @exported(1)
    def UpdateWindow(self, handle):
        window = self.live(handle)
        if window is None:
            return 0
        if window.visible and window.invalid:
            yield from self._send(handle, WM_PAINT, 0, 0)
        return 1

    @exported(1)
    def IsWindowVisible(self, handle):
        window = self.live(handle)
        return 1 if window is not None and window.visible else 0

    @exported(2)
    def SetWindowTextW(self, handle, text):
        window = self.live(handle)
        if window is None:
            return 0
        window.title = self.machine.read_wide(text)
        return 1

    @exported(1)
    def SetForegroundWindow(self, handle):
        if self.live(handle) is None:
            return 0
        self.foreground = handle
        return 1

    @exported(2)
    def GetClientRect(self, handle, rect):
        window = self.live(handle)
        if window is None:
            return 0
        self.machine.write_words(rect, list(self.client_rect(window)))
        return 1

    @exported(3)
    def InvalidateRect(self, handle, rect, erase):
        window = self.live(handle)
        if window is None:
            return 0
        self._invalidate(window, erase != 0)
        return 1

    @exported(2)
    def BeginPaint(self, handle, paint):
        window = self.live(handle)
        if window is None:
            return 0
        erase = window.invalid and window.erase
        window.invalid = window.erase = False
        dc = self.new_handle()
        self.selected[dc] = self._stock(BLACK_PEN)
        erased = erase and (yield from self._send(handle, WM_ERASEBKGND, dc, 0)) != 0
        self.machine.uc.mem_write(paint, bytes(structure_size("PAINTSTRUCT")))
        self.machine.write_words(paint, [dc, 1 if erase and not erased else 0,
                                         *self.client_rect(window)])
        return dc

    @exported(2)
    def EndPaint(self, handle, paint):
        dc = self.machine.read_u32(paint)
        return 1 if self.selected.pop(dc, None) is not None else 0

    @exported(4)
    def DefWindowProcW(self, handle, message, w_param, l_param):
        window = self.live(handle)
        if message == WM_CLOSE:
            return (yield from self._destroy(handle))
        if message == WM_ERASEBKGND:
            return 1 if window is not None and window.brush else 0
        if message == WM_PAINT and window is not None:
            window.invalid = window.erase = False
        return 0

    # ---- drawing --------------------------------------------------------------------------

    def _stock(self, index):
        return 0x00F00000 + 4 * index

    @exported(1)
    def GetStockObject(self, index):
        return self._stock(index)

    @exported(2)
    def SetBkMode(self, dc, mode):
        return 2

    @exported(2)
    def SetTextColor(self, dc, color):
        return 0

    @exported(3)
    def CreatePen(self, style, width, color):
        pen = self.new_handle()
        self.pens.add(pen)
        return pen

    @exported(2)
    def SelectObject(self, dc, gdi_object):
        previous = self.selected.get(dc)
        if previous is None:
            return 0
        self.selected[dc] = gdi_object
        return previous

    @exported(1)
    def DeleteObject(self, gdi_object):
        if gdi_object in self.selected.values():
            self.gdi_errors.append(f"deleted the pen 0x{gdi_object:X} while it was selected")
        if gdi_object in self.pens:
            self.pens.discard(gdi_object)
            return 1
        return 1 if gdi_object & 0xFFF00000 == 0x00F00000 else 0

    @exported(4)
    def MoveToEx(self, dc, x, y, point):
        return 1

    @exported(3)
    def LineTo(self, dc, x, y):
        return 1

    @exported(5)
    def DrawTextW(self, dc, text, count, rect, format_flags):
        string = self.machine.read_wide(text)
        if signed(count) >= 0:
            string = string[:count]
        self.drawn.append(string)
        return 1

    # ---- resources, metrics, formatting ---------------------------------------------------

    @exported(2)
    def LoadIconW(self, instance, name):
        # Windows CE's LoadIcon loads only an image of the system's icon size; a group
        # without one gives no icon (LoadImage is the way to other sizes).
        if instance != self.machine.image.base or name >= 0x10000:
            return 0
        sizes = self.machine.image.icon_sizes.get(name, ())
        if (SYSTEM_ICON_SIZE, SYSTEM_ICON_SIZE) not in sizes:
            return 0
        return self.icons.setdefault(name, self.new_handle())

    @exported(2)
    def LoadCursorW(self, instance, name):
        return self.new_handle() if name < 0x10000 else 0

    @exported(1)
    def GetSystemMetrics(self, index):
        return {SM_CYCAPTION: CAPTION_HEIGHT, SM_CXICON: SYSTEM_ICON_SIZE,
                SM_CYICON: SYSTEM_ICON_SIZE}.get(index, 0)

    @exported(4)
    def SystemParametersInfoW(self, action, parameter, value, ini):
        if action != SPI_GETWORKAREA or value == 0:
            return 0
        self.machine.write_words(value, list(WORK_AREA))
        return 1

    @exported(2)
    def wsprintfW(self, buffer, format_text):
        text, argument, out = self.machine.read_wide(format_text), 2, []
        index = 0
        while index < len(text):
            unit = text[index]
            index += 1
            if unit != "%":
                out.append(unit)
                continue
            conversion = text[index] if index < len(text) else ""
            index += 1
            if conversion == "%":
                out.append("%")
                continue
            value = self.machine.argument(argument)
            argument += 1
            if conversion == "d":
                out.append(str(signed(value)))
            elif conversion == "u":
                out.append(str(value))
            elif conversion == "s":
                out.append(self.machine.read_wide(value) if value else "(null)")
            else:
                self.fail(f"wsprintfW: the conversion %{conversion} is not modelled")
        result = "".join(out)[:1023]
        self.machine.write_wide(buffer, result)
        return len(result)

    # ---- memory ---------------------------------------------------------------------------

    def _allocate(self, size, fill):
        address = self.heap_next
        # Freed blocks are never handed out again, so a use after free reads the fill.
        self.heap_next += (max(size, 1) + 15) & ~7
        if self.heap_next > HEAP_BASE + HEAP_SIZE:
            return 0
        self.blocks[address] = size
        self.machine.uc.mem_write(address, bytes([fill]) * size)
        return address

    def _free(self, address, name):
        if address == 0:
            return 1
        size = self.blocks.pop(address, None)
        if size is None:
            self.misuses.append(f"{name} of 0x{address:08X}, which is no live block")
            return 0
        self.machine.uc.mem_write(address, bytes([BYTE_FILL_FREED]) * size)
        return 1

    @exported(1)
    def malloc(self, size):
        return self._allocate(size, BYTE_FILL_NEW)

    @exported(1)
    def free(self, address):
        self._free(address, "free")

    @exported(3)
    def memset(self, destination, value, count):
        self.machine.uc.mem_write(destination, bytes([value & 0xFF]) * count)
        return destination

    # ---- files, handles, module -----------------------------------------------------------

    @exported(7)
    def CreateFileW(self, name, access, share, security, disposition, flags, template):
        key = self._path_key(self.machine.read_wide(name))
        # The device's files are read-only here: nothing is created or written.
        if key not in self.files or disposition != OPEN_EXISTING or access & GENERIC_WRITE:
            return INVALID_HANDLE_VALUE
        handle = self.new_handle()
        self.open_files[handle] = {"bytes": self.files[key], "position": 0, "access": access}
        return handle

    @exported(5)
    def ReadFile(self, handle, buffer, count, read, overlapped):
        if read:
            self.machine.write_u32(read, 0)
        file = self.open_files.get(handle)
        if file is None or not file["access"] & GENERIC_READ:
            return 0
        chunk = file["bytes"][file["position"]:file["position"] + count]
        self.machine.uc.mem_write(buffer, chunk)
        file["position"] += len(chunk)
        if read:
            self.machine.write_u32(read, len(chunk))
        return 1

    @exported(4)
    def SetFilePointer(self, handle, distance, distance_high, method):
        file = self.open_files.get(handle)
        if file is None or method not in (FILE_BEGIN, FILE_CURRENT, FILE_END):
            return 0xFFFFFFFF
        if distance_high:
            self.fail("SetFilePointer with a high part is not modelled")
        origin = {FILE_BEGIN: 0, FILE_CURRENT: file["position"],
                  FILE_END: len(file["bytes"])}[method]
        target = origin + signed(distance)
        if target < 0 or target >= 0xFFFFFFFF:
            return 0xFFFFFFFF
        file["position"] = target
        return target

    @exported(2)
    def GetFileSize(self, handle, size_high):
        file = self.open_files.get(handle)
        if file is None:
            return 0xFFFFFFFF
        if size_high:
            self.machine.write_u32(size_high, 0)
        return len(file["bytes"])

    @exported(1)
    def CloseHandle(self, handle):
        for table in (self.open_files, self.processes, self.mutexes):
            if table.pop(handle, None) is not None:
                return 1
        self.misuses.append(f"CloseHandle of 0x{handle:08X}, which is not open")
        return 0

    @exported(3)
    def GetModuleFileNameW(self, module, buffer, size):
        if (module != 0 and module != self.machine.image.base) or size == 0:
            return 0
        path = self.module_path
        if len(path) + 1 <= size:
            self.machine.write_wide(buffer, path)
            return len(path)
        self.machine.write_wide(buffer, path[:size - 1])
        return size

    @exported(1)
    def GetModuleHandleW(self, name):
        return self.machine.image.base if name == 0 else 0

    @exported(3)
    def CreateMutexW(self, security, initial_owner, name):
        key = self.machine.read_wide(name) if name else ""
        exists = bool(key) and key in self.mutexes.values()
        handle = self.new_handle()
        self.mutexes[handle] = key
        self.last_error = ERROR_ALREADY_EXISTS if exists else 0
        return handle

    @exported(0)
    def GetLastError(self):
        return self.last_error

    @exported(1)
    def SetLastError(self, error):
        self.last_error = error
        return 0

    @exported(2)
    def CharUpperBuffW(self, text, length):
        units = self.machine.uc.mem_read(text, 2 * length).decode("utf-16-le", "surrogatepass")
        # Unicode's simple upper case, one unit for one (a mapping that would change the
        # length, such as German sharp s, leaves the character as it is).
        upper = "".join(c.upper() if len(c.upper()) == 1 else c for c in units)
        self.machine.uc.mem_write(text, upper.encode("utf-16-le", "surrogatepass"))
        return length

    # ---- programs and the shell -----------------------------------------------------------

    @exported(1)
    def ShellExecuteEx(self, info):
        fields = self.machine.read_words(info, structure_words("SHELLEXECUTEINFO"))
        size, mask, window, verb, file, parameters, directory, show, instance = fields[:9]
        program = {"cbSize": size, "fMask": mask, "verb": self.machine.read_wide(verb),
                   "file": self.machine.read_wide(file),
                   "parameters": self.machine.read_wide(parameters), "nShow": show,
                   "running": True, "at": self.now}
        self.programs.append(program)
        process = 0
        if mask & SEE_MASK_NOCLOSEPROCESS:
            process = self.new_handle()
            self.processes[process] = program
        # hInstApp: more than 32 means started
        self.machine.write_u32(info + field_offset("SHELLEXECUTEINFO", "hInstApp"), 42)
        self.machine.write_u32(info + field_offset("SHELLEXECUTEINFO", "hProcess"), process)
        return 1

    @exported(2)
    def WaitForSingleObject(self, process, milliseconds):
        # Only process handles are waited on; a process is signalled once it has ended,
        # whatever its exit code. The program waits no time, so the clock does not move.
        program = self.processes.get(process)
        if program is None:
            return WAIT_FAILED
        return WAIT_TIMEOUT if program["running"] else WAIT_OBJECT_0

    @exported(2)
    def TerminateProcess(self, process, exit_code):
        program = self.processes.get(process)
        if program is None or not program["running"]:
            return 0
        program["running"] = False
        return 1

    @exported(2)
    def Shell_NotifyIcon(self, message, data):
        size, window, icon_id, flags, callback, icon = self.machine.read_words(
            data, structure_words("NOTIFYICONDATA"))
        self.tray_calls.append({"message": message, "cbSize": size, "flags": flags,
                                "id": icon_id, "icon": self._icon_resource(icon)})
        if icon_id <= LAST_RESERVED_TRAY_ID:
            self.misuses.append(f"Shell_NotifyIcon with the icon id {icon_id}, which the "
                                "Pocket PC shell reserves (0 to 12)")
            return 0
        if flags & NIF_ICON and message != NIM_DELETE and icon == 0:
            self.misuses.append("Shell_NotifyIcon given no icon: the tray would show nothing "
                                "to tap")
        key = (window, icon_id)
        present = key in self.tray_icons
        if message == NIM_ADD and not present:
            self.tray_icons[key] = {"message": 0, "icon": 0}
        elif message == NIM_DELETE and present:
            del self.tray_icons[key]
            return 1
        elif message != NIM_MODIFY or not present:
            return 0
        if flags & NIF_MESSAGE:
            self.tray_icons[key]["message"] = callback
        if flags & NIF_ICON:
            self.tray_icons[key]["icon"] = self._icon_resource(icon)
        return 1

    def _icon_resource(self, icon):
        for resource, handle in self.icons.items():
            if handle == icon:
                return resource
        return 0 if icon == 0 else -1
