# The steps from the device sources to build-ce/kurvix.exe, run by ce/build-ce.sh with
# the variables below set. make rebuilds only what a changed file affects: each object
# depends on its source, the headers the compiler listed (-MMD) and the translation tool.
#
# OUT: the output folder; TOOLS: the arm-mingw32ce binutils' bin folder. The contact text
# comes in $(OUT)/obj/res/contact.h and version.h (ce/version_header.py writes them).

CXX := arm-linux-gnueabi-g++
TARGET := $(TOOLS)/arm-mingw32ce-
OBJ := $(OUT)/obj

include kurvix.mk
SOURCES := $(KURVIX_DEVICE_SOURCES) $(KURVIX_SHELL_SOURCES) platform/wince/memory.cpp
# Helpers the compiler calls on its own (division): from a library, so that the program
# holds only those its code calls.
RUNTIME_SOURCES := platform/wince/division.cpp
OBJECTS := $(SOURCES:%.cpp=$(OBJ)/%.o)
RUNTIME_OBJECTS := $(RUNTIME_SOURCES:%.cpp=$(OBJ)/%.o)

# ARMv4T code in ARM mode, whose returns are `bx lr` (they reach a Thumb caller in Thumb
# state); ce/ce_asm.py turns each into a sequence that runs on the StrongARM (ARMv4) too,
# so the program holds no instruction a StrongARM lacks on any path it takes there
# (docs/building.md says why). The Windows CE compilers' 16-bit wchar_t and signed char; no
# exceptions, RTTI, unwind tables or guard variables, which would need a C++ run-time
# library the device lacks; no Linux headers, only GCC's own and the project's.
CXXFLAGS := -std=c++98 -pedantic -Wall -Wextra -Werror -Os \
  -marm -march=armv4t -mfloat-abi=soft -fshort-wchar -fsigned-char \
  -fno-pic -fno-common -fno-exceptions -fno-rtti -fno-unwind-tables \
  -fno-asynchronous-unwind-tables -fno-stack-protector -fno-threadsafe-statics \
  -fno-use-cxa-atexit \
  -nostdinc -isystem $(shell $(CXX) -print-file-name=include) -isystem platform/wince/include \
  -I. -DKURVIX_CE_OWN_DECLARATIONS -include $(OBJ)/res/contact.h

# A Windows CE 4.20 GUI program; WinMain is the entry the loader calls. Base relocations
# stay in, so the loader can place it anywhere. The flags that later Windows reads (ASLR, no
# execution of data) are left out as the Windows CE era's linkers leave them, and the stack
# is their 64 KiB: the main thread's stack comes out of the process's 32 MiB slot. No time
# stamp: the same sources give the same file.
LDFLAGS := --subsystem wince:4.20 --major-os-version 4 --minor-os-version 20 \
  --entry WinMain --enable-reloc-section --disable-dynamicbase \
  --disable-nxcompat --stack 0x10000,0x1000 --no-insert-timestamp

.DELETE_ON_ERROR:
.SECONDARY:
# Run with --no-builtin-rules: make's own rule from .s to .o would otherwise skip the
# translation whenever a compiler output exists without its translation (after a build that
# stopped half way), and hand ELF assembly to the COFF assembler.
.SUFFIXES:

LINKED := $(OBJECTS) $(OBJ)/kurvix.res.o $(OBJ)/libruntime.a $(OBJ)/libcoredll.a

$(OUT)/kurvix.exe: $(LINKED) ce/build-ce.mk
	$(TARGET)ld $(LDFLAGS) --strip-all -Map $(OUT)/kurvix.map -o $@.partial $(LINKED)
	mv $@.partial $@

# The same link with its symbols, for the check of the returns to the system
# (tests/ce/check_returns.py): it names each function.
$(OUT)/kurvix-symbols.exe: $(LINKED) ce/build-ce.mk
	$(TARGET)ld $(LDFLAGS) -o $@.partial $(LINKED)
	mv $@.partial $@

$(OBJ)/%.s: %.cpp ce/build-ce.mk $(OBJ)/res/contact.h
	@mkdir -p $(@D)
	$(CXX) $(CXXFLAGS) -MMD -MP -MT $@ -MF $(OBJ)/$*.d -S $< -o $@

$(OBJ)/%.coff.s: $(OBJ)/%.s ce/ce_asm.py
	python3 ce/ce_asm.py $< $@

$(OBJ)/%.o: $(OBJ)/%.coff.s
	$(TARGET)as -march=armv4t -o $@ $<

$(OBJ)/kurvix.res.o: res/kurvix.rc res/resource.h res/kurvix.ico res/tray_enabled.ico \
  res/tray_disabled.ico $(OBJ)/res/version.h
	$(TARGET)windres -I res -I $(OBJ)/res -i $< -o $@

$(OBJ)/libruntime.a: $(RUNTIME_OBJECTS)
	rm -f $@
	$(TARGET)ar rcs $@ $^

# The import library names exactly the coredll functions the objects call.
$(OBJ)/coredll.def: $(OBJECTS) $(RUNTIME_OBJECTS) ce/ce_imports.py ce/coredll-exports.txt
	python3 ce/ce_imports.py $(TARGET)nm ce/coredll-exports.txt $(OBJECTS) \
	  $(RUNTIME_OBJECTS) > $@

$(OBJ)/libcoredll.a: $(OBJ)/coredll.def
	$(TARGET)dlltool --def $< --dllname COREDLL.dll --output-lib $@

-include $(SOURCES:%.cpp=$(OBJ)/%.d) $(RUNTIME_SOURCES:%.cpp=$(OBJ)/%.d)
