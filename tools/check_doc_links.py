#!/usr/bin/env python3
"""Finds links in the repository's Markdown files that lead nowhere.

Checked in every Markdown file the repository has (tracked, or new and not ignored):
- a relative link or image whose file or folder does not exist;
- an #anchor, in the same file or in another Markdown file, that no heading of that file makes
  (anchors are made as GitHub makes them: lower case, punctuation dropped, blanks become
  hyphens, a repeated heading gets -1, -2, ...);
- a command in a fenced block marked as a shell command (sh, bash, shell; console lines that
  begin with "$ ") whose program, or the script an interpreter is given, is a path inside the
  repository that does not exist. Programs found on PATH, absolute paths and the build
  folders' outputs (build*/) are not the repository's business.

Usage: check_doc_links.py [ROOT]   (default: the repository this file is in)
Exit status: 0 nothing found, 1 findings (one "FILE:LINE: text" line each).
"""

import os
import re
import shlex
import subprocess
import sys
import urllib.parse

SHELL_LANGUAGES = {"sh", "bash", "shell", "console"}
INTERPRETERS = {"python3", "python", "bash", "sh", "node"}
# Words that run the command after them.
PREFIXES = {"sudo", "env", "exec", "time", "nice"}
FENCE = re.compile(r"^ {0,3}(`{3,}|~{3,})\s*([^`\s]*)")
ATX_HEADING = re.compile(r"^ {0,3}(#{1,6})(?:[ \t]+(.*?))?(?:[ \t]+#+)?[ \t]*$")
SETEXT_UNDERLINE = re.compile(r"^ {0,3}(=+|-+)[ \t]*$")
HTML_ANCHOR = re.compile(r"<a\s[^>]*?(?:name|id)\s*=\s*[\"']([^\"']+)[\"']", re.IGNORECASE)
CODE_SPAN = re.compile(r"(`+)(.+?)\1")
INLINE_LINK = re.compile(r"!?\[(?:[^\[\]]|\[[^\]]*\])*\]\(\s*<?([^)\s>]*)>?(?:\s+[\"'(][^)]*)?\)")
REFERENCE_DEFINITION = re.compile(r"^ {0,3}\[[^\]]+\]:\s*<?(\S+?)>?(?:\s|$)")
SCHEME = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]*:")


def github_anchor(heading):
    """The anchor GitHub gives a heading's text (without the -1, -2 of repeats)."""
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", heading)  # a link shows its text
    text = re.sub(r"<[^>]+>", "", text)
    text = text.strip().lower()
    text = "".join(c for c in text if c.isalnum() or c in "-_ ")
    return text.replace(" ", "-")


def split_fences(lines):
    """Yields (line number, line, fence language or None when outside a fenced block)."""
    fence = None
    language = None
    for number, line in enumerate(lines, 1):
        match = FENCE.match(line)
        if fence is None:
            if match:
                fence, language = match.group(1), match.group(2).lower()
                continue
            yield number, line, None
        else:
            if match and match.group(1)[0] == fence[0] and len(match.group(1)) >= len(fence) \
                    and not match.group(2):
                fence = None
                continue
            yield number, line, language


def anchors_of(text):
    """Every anchor a Markdown text makes: its headings' and its HTML anchors'."""
    anchors = set()
    seen = {}
    previous = None
    for _, line, language in split_fences(text.splitlines()):
        if language is not None:
            previous = None
            continue
        heading = None
        match = ATX_HEADING.match(line)
        if match:
            heading = match.group(2) or ""
        elif previous and previous.strip() and SETEXT_UNDERLINE.match(line) \
                and not previous.lstrip().startswith(("-", "*", ">", "|")):
            heading = previous.strip()
        if heading is not None:
            anchor = github_anchor(heading)
            count = seen.get(anchor, 0)
            seen[anchor] = count + 1
            anchors.add(anchor if count == 0 else f"{anchor}-{count}")
        anchors.update(a for a in HTML_ANCHOR.findall(line))
        previous = line
    return anchors


def links_of(text):
    """(line number, target) of every link and image outside code."""
    for number, line, language in split_fences(text.splitlines()):
        if language is not None:
            continue
        line = CODE_SPAN.sub("", line)
        for match in INLINE_LINK.finditer(line):
            yield number, match.group(1)
        match = REFERENCE_DEFINITION.match(line)
        if match:
            yield number, match.group(1)


def shell_commands(text):
    """(line number, command line) of every command in a fenced shell block."""
    pending = ""
    pending_number = 0
    for number, line, language in split_fences(text.splitlines()):
        if language not in SHELL_LANGUAGES:
            pending = ""
            continue
        if not pending:
            if language == "console":
                if not line.startswith("$ "):
                    continue
                line = line[2:]
            elif line.startswith("$ "):
                line = line[2:]
            pending_number = number
        if line.endswith("\\"):
            pending += line[:-1] + " "
            continue
        yield pending_number, pending + line
        pending = ""


def programs_of(command):
    """The words of a command line that name programs or scripts, with the folder changes
    (cd DIR) between them: yields ("cd", DIR) or ("run", PATH)."""
    lexer = shlex.shlex(command, posix=True, punctuation_chars=";&|()<>")
    lexer.whitespace_split = True
    lexer.commenters = "#"
    try:
        words = list(lexer)
    except ValueError:  # an open quote: not a command this checker can read
        return
    start = True
    interpreter = False
    for i, word in enumerate(words):
        if word and all(c in ";&|()" for c in word):
            start, interpreter = True, False
            continue
        if word and all(c in "<>" for c in word):
            start = False
            continue
        if start:
            if re.match(r"^[A-Za-z_][A-Za-z0-9_]*=", word) or word in PREFIXES:
                continue
            start = False
            if word == "cd":
                following = words[i + 1] if i + 1 < len(words) else ""
                yield "cd", following
                continue
            yield "run", word
            interpreter = os.path.basename(word) in INTERPRETERS
            continue
        if interpreter:
            if word.startswith("-"):
                if word in ("-m", "-c"):
                    interpreter = False  # a module or inline code, no script path
                continue
            yield "run", word
            interpreter = False


def is_repository_path(word):
    return "/" in word and not word.startswith(("/", "~", "$")) and not SCHEME.match(word)


def is_build_output(path):
    return path.split("/", 1)[0].startswith("build")


class Checker:
    def __init__(self, root, known):
        """root: the repository's folder; known: its files, as paths relative to root."""
        self.root = root
        self.files = set(known)
        self.folders = {""}
        for path in self.files:
            parts = path.split("/")
            for i in range(1, len(parts)):
                self.folders.add("/".join(parts[:i]))
        self.anchors = {}

    def exists(self, path):
        return path in self.files or path in self.folders

    def text_of(self, path):
        with open(os.path.join(self.root, path), encoding="utf-8") as f:
            return f.read()

    def anchors_in(self, path):
        if path not in self.anchors:
            self.anchors[path] = anchors_of(self.text_of(path))
        return self.anchors[path]

    def check_file(self, path):
        """Findings of one Markdown file, as "path:line: text"."""
        text = self.text_of(path)
        folder = os.path.dirname(path)
        findings = []
        for number, target in links_of(text):
            problem = self.check_link(path, folder, target)
            if problem:
                findings.append(f"{path}:{number}: {problem}")
        for number, command in shell_commands(text):
            problem = self.check_command(command)
            if problem:
                findings.append(f"{path}:{number}: {problem}")
        return findings

    def check_link(self, path, folder, target):
        if not target or SCHEME.match(target) or target.startswith("//"):
            return None
        target_path, _, anchor = target.partition("#")
        target_path = urllib.parse.unquote(target_path)
        if target_path.startswith("/"):
            resolved = os.path.normpath(target_path.lstrip("/"))
        elif target_path:
            resolved = os.path.normpath(os.path.join(folder, target_path))
        else:
            resolved = path
        if resolved == ".":
            resolved = ""
        if resolved.startswith(".."):
            return f"link {target} leads out of the repository"
        if not self.exists(resolved):
            return f"link {target}: {resolved} does not exist"
        if anchor and resolved.lower().endswith(".md") and resolved in self.files:
            if urllib.parse.unquote(anchor) not in self.anchors_in(resolved):
                return f"link {target}: {resolved} has no heading with the anchor #{anchor}"
        return None

    def check_command(self, command):
        folder = ""
        for kind, word in programs_of(command):
            if kind == "cd":
                # Outside the repository, or a folder from a variable: nothing more to check.
                if not word or word.startswith(("/", "~", "$", "-")):
                    return None
                folder = os.path.normpath(os.path.join(folder, word))
                continue
            if not is_repository_path(word):
                continue
            resolved = os.path.normpath(os.path.join(folder, word))
            if resolved.startswith("..") or is_build_output(resolved):
                continue
            if not self.exists(resolved):
                return f"command {command.strip()!r}: {resolved} does not exist"
        return None


def repository_files(root):
    """The files git knows of: tracked ones, and new ones that are not ignored."""
    output = subprocess.run(
        ["git", "-C", root, "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
        check=True, capture_output=True).stdout
    return [p for p in output.decode("utf-8").split("\0") if p]


def main(argv):
    root = argv[1] if len(argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    root = os.path.abspath(root)
    files = [p for p in repository_files(root) if os.path.exists(os.path.join(root, p))]
    checker = Checker(root, files)
    markdown = sorted(p for p in files if p.lower().endswith(".md"))
    findings = [f for path in markdown for f in checker.check_file(path)]
    for finding in findings:
        print(finding)
    print(f"{len(markdown)} Markdown files, {len(findings)} broken links or commands",
          file=sys.stderr)
    return 1 if findings else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
