"""An ARM processor (unicorn) with a Windows CE program loaded as CE's loader would load it.

The image goes to its preferred base or, with its base relocations applied, to another one;
every import from COREDLL.dll is bound to an address in a stand-in page, where a call stops
the processor and runs the stand-in of the same name (coredll_model). Stand-ins that call
back into the program (a window procedure, a message box's own loop) are generators: each
`yield Call(...)` runs ARM code to its return while the stand-in waits, so no emulation is
ever started from inside another one. A call of an import without a stand-in, a memory fault
or an undefined instruction stops the run with an EmulationFault naming it.

The system of an ARMV4I or ARMv5 device may call the program (its entry, its window and
timer procedures) from Thumb code, with an odd return address. A machine made with
`thumb_callers` enters every such call so, and a return that arrives in ARM state stops the
run; without it every caller is ARM code, and a return must arrive in ARM state.
"""
import struct
from collections import namedtuple

import pefile
from unicorn import (UC_ARCH_ARM, UC_ERR_INSN_INVALID, UC_HOOK_CODE, UC_HOOK_INTR,
                     UC_HOOK_MEM_INVALID, UC_MEM_FETCH_PROT, UC_MEM_FETCH_UNMAPPED,
                     UC_MEM_READ_PROT, UC_MEM_READ_UNMAPPED, UC_MEM_WRITE_PROT, UC_MEM_WRITE_UNMAPPED,
                     UC_MODE_ARM, UC_PROT_ALL, UC_PROT_EXEC, UC_PROT_READ, UC_PROT_WRITE,
                     Uc, UcError)
from unicorn.arm_const import (UC_ARM_REG_CPSR, UC_ARM_REG_LR, UC_ARM_REG_PC, UC_ARM_REG_R0,
                               UC_ARM_REG_R1, UC_ARM_REG_R2, UC_ARM_REG_R3, UC_ARM_REG_SP)

ARGUMENT_REGISTERS = (UC_ARM_REG_R0, UC_ARM_REG_R1, UC_ARM_REG_R2, UC_ARM_REG_R3)
PAGE = 0x1000
STUB_BASE = 0x0F000000       # one word per import, never executed: a hook stops there
RETURN_TRAP = STUB_BASE + PAGE - 4
SW_SHOW = 5
STACK_TOP = 0x0E000000
HEAP_BASE = 0x0C000000
HEAP_SIZE = 0x100000
IMAGE_MACHINE_ARM = 0x1C0
IMAGE_REL_BASED_ABSOLUTE = 0
IMAGE_REL_BASED_HIGHLOW = 3
IMAGE_SCN_MEM_EXECUTE = 0x20000000
IMAGE_SCN_MEM_WRITE = 0x80000000
CPSR_THUMB = 0x20
# Undefined instructions stop the processor with an error of their own instead.
ARM_EXCEPTION_NAMES = {2: "software interrupt (coredll is never entered so)",
                       3: "prefetch abort", 4: "data abort", 7: "breakpoint"}
ACCESS_NAMES = {UC_MEM_READ_UNMAPPED: "read of unmapped memory",
                UC_MEM_WRITE_UNMAPPED: "write to unmapped memory",
                UC_MEM_FETCH_UNMAPPED: "jump to unmapped memory",
                UC_MEM_WRITE_PROT: "write to read-only memory",
                UC_MEM_READ_PROT: "read of protected memory",
                UC_MEM_FETCH_PROT: "execution of non-executable memory"}

Call = namedtuple("Call", "function arguments")


class EmulationFault(Exception):
    """The program did something a device would not survive, or the model does not know."""


class LoadedImage:
    """The exe's bytes as CE's loader places them at `base`, and what the loader must bind."""

    def __init__(self, path, base=None, apply_relocations=True):
        pe = pefile.PE(path)
        if pe.FILE_HEADER.Machine != IMAGE_MACHINE_ARM:
            raise EmulationFault(f"{path}: machine 0x{pe.FILE_HEADER.Machine:X} is not ARM (0x1C0)")
        self.preferred_base = pe.OPTIONAL_HEADER.ImageBase
        self.base = self.preferred_base if base is None else base
        self.size = (pe.OPTIONAL_HEADER.SizeOfImage + PAGE - 1) & ~(PAGE - 1)
        self.entry = self.base + pe.OPTIONAL_HEADER.AddressOfEntryPoint
        # The program's thread gets the stack its header reserves, and not a byte more.
        self.stack_size = (pe.OPTIONAL_HEADER.SizeOfStackReserve + PAGE - 1) & ~(PAGE - 1)
        self.sections = [(s.VirtualAddress, s.Misc_VirtualSize, s.Characteristics)
                         for s in pe.sections]
        image = bytearray(pe.get_memory_mapped_image())
        image.extend(bytes(self.size - len(image)))
        self.relocations = self._relocate(pe, image) if apply_relocations else 0
        self.imports = self._imports(pe)
        self.icon_sizes = self._icon_sizes(pe)
        self.bytes = image

    def _relocate(self, pe, image):
        """Adds the distance to the preferred base to every address the image holds."""
        entries = [entry for block in getattr(pe, "DIRECTORY_ENTRY_BASERELOC", [])
                   for entry in block.entries]
        delta = (self.base - self.preferred_base) & 0xFFFFFFFF
        for entry in entries:
            if entry.type == IMAGE_REL_BASED_ABSOLUTE:
                continue
            if entry.type != IMAGE_REL_BASED_HIGHLOW:
                raise EmulationFault(f"base relocation of type {entry.type} at RVA "
                                     f"0x{entry.rva:X}: CE's ARM loader applies only HIGHLOW")
            value = struct.unpack_from("<I", image, entry.rva)[0]
            struct.pack_into("<I", image, entry.rva, (value + delta) & 0xFFFFFFFF)
        return sum(1 for e in entries if e.type == IMAGE_REL_BASED_HIGHLOW)

    def _imports(self, pe):
        """(name, address of its import-table slot) for every function the exe imports."""
        imports = []
        for library in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
            dll = library.dll.decode("ascii", "replace")
            if dll.upper() != "COREDLL.DLL":
                raise EmulationFault(f"the exe imports from {dll}; on the device only COREDLL.dll")
            for function in library.imports:
                if function.name is None:
                    raise EmulationFault(f"ordinal import {function.ordinal} from {dll}: "
                                         "imports must be by name")
                slot = function.address - self.preferred_base + self.base
                imports.append((function.name.decode("ascii"), slot))
        return imports

    @staticmethod
    def _icon_sizes(pe):
        """{icon group id: the (width, height) of each image the group lists}. A group's
        directory entry gives 0 for a side of 256 pixels."""
        resources = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
        groups = {}
        for kind in resources.entries if resources else []:
            if kind.id != pefile.RESOURCE_TYPE["RT_GROUP_ICON"]:
                continue
            for entry in kind.directory.entries:
                if entry.id is None:
                    continue
                data = entry.directory.entries[0].data.struct
                group = pe.get_data(data.OffsetToData, data.Size)
                count = struct.unpack_from("<H", group, 4)[0]
                groups[entry.id] = [(group[6 + 14 * i] or 256, group[7 + 14 * i] or 256)
                                    for i in range(count)]
        return groups


class Machine:
    """One processor with one loaded program and a model of coredll to answer its calls."""

    def __init__(self, image, cpu_model, model, thumb_callers=False):
        self.image = image
        self.model = model
        self.thumb_callers = thumb_callers
        self.calls_entered = 0
        self.uc = Uc(UC_ARCH_ARM, UC_MODE_ARM)
        self.uc.ctl_set_cpu_model(cpu_model)
        self._map_image()
        self.uc.mem_map(STACK_TOP - image.stack_size, image.stack_size,
                        UC_PROT_READ | UC_PROT_WRITE)
        self.uc.mem_map(HEAP_BASE, HEAP_SIZE, UC_PROT_READ | UC_PROT_WRITE)
        self.uc.mem_map(STUB_BASE, PAGE, UC_PROT_ALL)
        self.stubs = {}
        for index, (name, slot) in enumerate(image.imports):
            self.stubs[STUB_BASE + 4 * index] = name
            self.write_u32(slot, STUB_BASE + 4 * index)
        self.stand_in_calls = 0
        self._stop = None
        self.uc.hook_add(UC_HOOK_CODE, self._on_stub, begin=STUB_BASE, end=STUB_BASE + PAGE - 1)
        self.uc.hook_add(UC_HOOK_MEM_INVALID, self._on_bad_access)
        self.uc.hook_add(UC_HOOK_INTR, self._on_exception)
        model.attach(self)

    def _map_image(self):
        image = self.image
        self.uc.mem_map(image.base, image.size, UC_PROT_ALL)
        self.uc.mem_write(image.base, bytes(image.bytes))
        # The headers are read-only; each section gets the access its flags give it.
        self.uc.mem_protect(image.base, PAGE, UC_PROT_READ)
        for rva, size, flags in image.sections:
            if rva % PAGE or size == 0:
                continue
            protection = UC_PROT_READ
            if flags & IMAGE_SCN_MEM_WRITE:
                protection |= UC_PROT_WRITE
            if flags & IMAGE_SCN_MEM_EXECUTE:
                protection |= UC_PROT_EXEC
            length = (size + PAGE - 1) & ~(PAGE - 1)
            self.uc.mem_protect(image.base + rva, min(length, image.size - rva), protection)

    # ---- memory -------------------------------------------------------------------------

    def read_u32(self, address):
        return struct.unpack("<I", self.uc.mem_read(address, 4))[0]

    def write_u32(self, address, value):
        self.uc.mem_write(address, struct.pack("<I", value & 0xFFFFFFFF))

    def read_words(self, address, count):
        return struct.unpack(f"<{count}I", self.uc.mem_read(address, 4 * count))

    def write_words(self, address, values):
        self.uc.mem_write(address, struct.pack(f"<{len(values)}I",
                                               *(v & 0xFFFFFFFF for v in values)))

    def read_wide(self, address, limit=4096):
        if address == 0:
            return None
        units = []
        while len(units) < limit:
            unit = struct.unpack("<H", self.uc.mem_read(address + 2 * len(units), 2))[0]
            if unit == 0:
                break
            units.append(unit)
        return struct.pack(f"<{len(units)}H", *units).decode("utf-16-le", "surrogatepass")

    def write_wide(self, address, text):
        self.uc.mem_write(address, text.encode("utf-16-le") + b"\0\0")

    # ---- running ------------------------------------------------------------------------

    def entry_arguments(self):
        """WinMain's: the instance (the image's base), no previous one, an empty wide
        command line, SW_SHOW."""
        command_line = STACK_TOP - 16
        self.write_wide(command_line, "")
        return [self.image.base, 0, command_line, SW_SHOW]

    def argument(self, index):
        """The index-th 32-bit argument of the call being answered."""
        if index < 4:
            return self.uc.reg_read(ARGUMENT_REGISTERS[index])
        return self.read_u32(self.uc.reg_read(UC_ARM_REG_SP) + 4 * (index - 4))

    def _enter(self, function, arguments, stack_pointer):
        """Sets up a call of ARM code that returns to the trap."""
        extra = arguments[4:]
        stack_pointer = (stack_pointer - 4 * len(extra)) & ~7
        if extra:
            self.write_words(stack_pointer, extra)
        for register, value in zip(ARGUMENT_REGISTERS, arguments):
            self.uc.reg_write(register, value & 0xFFFFFFFF)
        self.uc.reg_write(UC_ARM_REG_SP, stack_pointer)
        self.uc.reg_write(UC_ARM_REG_LR, RETURN_TRAP | (1 if self.thumb_callers else 0))
        self.calls_entered += 1
        return function

    def run(self, function, arguments):
        """Calls ARM code with the given arguments and returns its r0 when it returns."""
        waiting = []  # (stand-in generator, processor state at its call), innermost last
        pc = self._enter(function, arguments, STACK_TOP - 64)
        while True:
            self._run_until_stop(pc)
            address = self._stop
            if address == RETURN_TRAP:
                self._check_return_state(waiting)
                result = self.uc.reg_read(UC_ARM_REG_R0)
                if not waiting:
                    return result
                generator, state = waiting.pop()
                self.uc.context_restore(state)
                pc = self._resume(generator, state, result, waiting)
                continue
            name = self.stubs.get(address)
            if name is None:
                raise EmulationFault(f"jump into the stand-in page at 0x{address:08X}, "
                                     "which no import holds")
            stand_in = self.model.stand_in(name)
            if stand_in is None:
                caller = self.uc.reg_read(UC_ARM_REG_LR)
                raise EmulationFault(f"the program called {name}, which the coredll model "
                                     f"does not provide (from 0x{caller:08X})")
            self.stand_in_calls += 1
            outcome = stand_in(self)
            if hasattr(outcome, "send"):
                pc = self._resume(outcome, self.uc.context_save(), None, waiting)
            else:
                pc = self._return_from_stub(outcome)

    def _resume(self, generator, state, value, waiting):
        """Runs a stand-in on to its next callback (set up, returning its address) or end."""
        try:
            request = generator.send(value)
        except StopIteration as finished:
            return self._return_from_stub(finished.value)
        waiting.append((generator, state))
        return self._enter(request.function, list(request.arguments),
                           self.uc.reg_read(UC_ARM_REG_SP) - 16)

    def _check_return_state(self, waiting):
        thumb = bool(self.uc.reg_read(UC_ARM_REG_CPSR) & CPSR_THUMB)
        if thumb != self.thumb_callers:
            called = "the entry" if not waiting else f"a call from {waiting[-1][0].__name__}"
            state, caller = ("Thumb", "an ARM") if thumb else ("ARM", "a Thumb")
            raise EmulationFault(f"the return from {called} to {caller} caller arrived in "
                                 f"{state} state")

    def _return_from_stub(self, result):
        self.uc.reg_write(UC_ARM_REG_R0, (result or 0) & 0xFFFFFFFF)
        return self.uc.reg_read(UC_ARM_REG_LR)

    def _run_until_stop(self, pc):
        self._stop = None
        self._fault = None
        try:
            self.uc.emu_start(pc, 0xFFFFFFFF)
        except UcError as error:
            pc = self.uc.reg_read(UC_ARM_REG_PC)
            if self._fault:
                raise EmulationFault(self._fault) from None
            if error.errno == UC_ERR_INSN_INVALID:
                word = self.read_u32(pc)
                raise EmulationFault(f"undefined instruction 0x{word:08X} at 0x{pc:08X}") from None
            raise EmulationFault(f"the processor stopped at 0x{pc:08X}: {error}") from None
        if self._fault:
            raise EmulationFault(self._fault)
        if self._stop is None:
            pc = self.uc.reg_read(UC_ARM_REG_PC)
            raise EmulationFault(f"the processor stopped at 0x{pc:08X} for no known reason")

    def _on_stub(self, uc, address, size, data):
        self._stop = address
        uc.emu_stop()

    def _on_bad_access(self, uc, access, address, size, value, data):
        pc = uc.reg_read(UC_ARM_REG_PC)
        what = ACCESS_NAMES.get(access, f"memory access {access}")
        if access in (UC_MEM_FETCH_UNMAPPED, UC_MEM_FETCH_PROT):
            by = f"coming from around 0x{uc.reg_read(UC_ARM_REG_LR):08X} (lr)"
        else:
            by = f"by the instruction at 0x{pc:08X}"
        self._fault = f"memory fault: {what} at 0x{address:08X} ({size} bytes) {by}"
        return False

    def _on_exception(self, uc, number, data):
        name = ARM_EXCEPTION_NAMES.get(number, f"processor exception {number}")
        self._fault = f"{name} near 0x{uc.reg_read(UC_ARM_REG_PC):08X}"
        uc.emu_stop()
