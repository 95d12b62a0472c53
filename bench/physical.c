/* The physical cost of the job, natively: write the six payloads into a folder and flush each
   to disk, as the installer must. Usage: physical OUT_DIR PAYLOAD...
   Each payload is written straight from a mapping of its file, as the installer writes
   straight from its mapped image: reading them into fresh buffers instead costs this machine's
   VM about 20 ms of first-touch page faults that are no part of the job. */
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char** argv) {
  for (int i = 2; i < argc; ++i) {
    const char* name = strrchr(argv[i], '/') ? strrchr(argv[i], '/') + 1 : argv[i];
    char target[4096];
    snprintf(target, sizeof target, "%s/%s", argv[1], name);
    struct stat status;
    const int in = open(argv[i], O_RDONLY);
    if (in < 0 || fstat(in, &status) != 0 || status.st_size == 0) {
      perror(argv[i]);
      return 1;
    }
    const size_t size = (size_t)status.st_size;
    void* bytes = mmap(NULL, size, PROT_READ, MAP_PRIVATE, in, 0);
    close(in);
    const int fd = open(target, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (bytes == MAP_FAILED || fd < 0 || write(fd, bytes, size) != (ssize_t)size ||
        fsync(fd) != 0 || close(fd) != 0) {
      perror(target);
      return 1;
    }
    munmap(bytes, size);
  }
  return 0;
}
