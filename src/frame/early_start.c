/* The static program's first instructions, before its C library starts.

   A site whose INI file names a PostgreSQL server is served by the
   dynamically linked program (see src/main.cpp). Handing over from main()
   costs the static program's whole start first: the C library's set-up,
   which on a virtual machine spends most of a millisecond asking the
   processor about its caches, and the C++ start-up. So the entry point
   reads the INI file itself, with bare system calls, and execs the dynamic
   program at once when the file names a server.

   Nothing here may call into the C library, which is not set up yet (no
   thread pointer, no relocated functions): hence the system calls by hand
   and no library calls (this file and module/ini_server.c are compiled
   freestanding). Whenever anything goes other than planned, the program
   starts as usual and main() decides, and reports, as before.

   A program that stays then maps its whole image at once (see
   wo_early_map_image below). */
#include "module/ini_server.h"
#include "module/site_layout.h"

#if defined(__x86_64__) && defined(__linux__)

#define SYS_READ 0
#define SYS_CLOSE 3
#define SYS_MADVISE 28
#define SYS_EXECVE 59
#define SYS_READLINK 89
#define SYS_OPENAT 257
#define AT_FDCWD_ (-100)
#define O_RDONLY_CLOEXEC 02000000
#define MADV_POPULATE_READ_ 22
#define MADV_POPULATE_WRITE_ 23
#define AT_PHDR_ 3
#define AT_PHNUM_ 5
#define PT_LOAD_ 1
#define PT_PHDR_ 6
#define PF_W_ 2
#define PAGE_ 4096UL

static long call3(long number, long a, long b, long c) {
  long r;
  __asm__ volatile("syscall" : "=a"(r) : "a"(number), "D"(a), "S"(b), "d"(c) : "rcx", "r11", "memory");
  return r;
}

static long call4(long number, long a, long b, long c, long d) {
  long r;
  register long r10 __asm__("r10") = d;
  __asm__ volatile("syscall" : "=a"(r) : "a"(number), "D"(a), "S"(b), "d"(c), "r"(r10) : "rcx", "r11", "memory");
  return r;
}

enum { kPathMax = 4096, kIniMax = 1 << 16 };

/* The INI file is read whole or not at all. */
static char iniText[kIniMax];

/* `path` ending at `*length` followed by `tail`; 0 when it does not fit. */
static int append(char* path, unsigned long* length, const char* tail) {
  for (; *tail; ++tail) {
    if (*length + 1 >= kPathMax + 64) return 0;
    path[(*length)++] = *tail;
  }
  path[*length] = 0;
  return 1;
}

/* The folders above the program's, as main() finds them. */
void wo_early_handover(long* stack) {
  char** argv = (char**)(stack + 1);
  char** envp = argv + stack[0] + 1;
  char path[kPathMax + 64];
  unsigned long folder, length;
  long n, fd, size = 0;

  n = call3(SYS_READLINK, (long)"/proc/self/exe", (long)path, kPathMax);
  if (n <= 0 || n >= kPathMax) return;
  while (n > 0 && path[n - 1] != '/') --n;
  if (n == 0) return;
  folder = (unsigned long)n;

  length = folder;
  if (!append(path, &length, WO_SITE_TOP_FROM_PROGRAM WO_SITE_INI_FILE)) return;
  fd = call4(SYS_OPENAT, AT_FDCWD_, (long)path, O_RDONLY_CLOEXEC, 0);
  if (fd < 0) return;
  for (;;) {
    n = call3(SYS_READ, fd, (long)(iniText + size), kIniMax - size);
    if (n <= 0 || (size += n) == kIniMax) break;
  }
  call3(SYS_CLOSE, fd, 0, 0);
  if (n != 0 || !wo_ini_names_server(iniText, (unsigned long)size)) return;

  length = folder;
  if (!append(path, &length, WO_SITE_TOP_FROM_PROGRAM WO_SITE_DYNAMIC_PROGRAM)) return;
  call3(SYS_EXECVE, (long)path, (long)argv, (long)envp);
}

/* A program header of the image, as the ELF format lays it out. */
struct ProgramHeader {
  unsigned int type, flags;
  unsigned long offset, address, fileAddress, fileSize, memorySize, alignment;
};

/* Maps every page of the program's loaded segments now, in one call per
   segment, instead of one page fault at a time as the request first
   touches each: its code and constants read from the page cache, its data
   and zeroed memory made writable. A request touches much of a 4 MB image
   and each fault costs far more than the mapping of a page in bulk: on a
   virtual machine a fault took 10-15 microseconds, a page mapped by
   madvise well under one. Kernels before 5.14 refuse the advice; the
   pages then come as before. */
void wo_early_map_image(long* stack) {
  char** argv = (char**)(stack + 1);
  char** p = argv + stack[0] + 1; /* the environment, then the aux vector */
  const struct ProgramHeader* header = 0;
  unsigned long* aux;
  unsigned long count = 0, bias = 0, i;

  while (*p) ++p;
  for (aux = (unsigned long*)(p + 1); aux[0]; aux += 2) {
    if (aux[0] == AT_PHDR_) header = (const struct ProgramHeader*)aux[1];
    if (aux[0] == AT_PHNUM_) count = aux[1];
  }
  if (!header) return;
  /* Where a position-independent image was loaded: the headers' own
     address against the one they name for themselves. */
  for (i = 0; i < count; ++i)
    if (header[i].type == PT_PHDR_) bias = (unsigned long)header - header[i].address;
  for (i = 0; i < count; ++i) {
    unsigned long from, to;
    if (header[i].type != PT_LOAD_) continue;
    from = (bias + header[i].address) & ~(PAGE_ - 1);
    to = (bias + header[i].address + header[i].memorySize + PAGE_ - 1) & ~(PAGE_ - 1);
    call3(SYS_MADVISE, (long)from, (long)(to - from),
          (header[i].flags & PF_W_) ? MADV_POPULATE_WRITE_ : MADV_POPULATE_READ_);
  }
}

/* The entry point: hands the initial stack (argc, argv, envp) to the
   two functions above and, when they return, goes on to the C library's
   entry with the registers as the kernel left them. */
__asm__(
    "  .text\n"
    "  .globl wo_early_start\n"
    "  .type wo_early_start, @function\n"
    "wo_early_start:\n"
    "  xor %ebp, %ebp\n"
    "  mov %rsp, %r12\n"
    "  mov %rsp, %rdi\n"
    "  and $-16, %rsp\n"
    "  call wo_early_handover\n"
    "  mov %r12, %rdi\n"
    "  call wo_early_map_image\n"
    "  mov %r12, %rsp\n"
    "  xor %r12d, %r12d\n"
    "  xor %edx, %edx\n"
    "  jmp _start\n"
    "  .size wo_early_start, . - wo_early_start\n");

#endif
