/* The physical cost of the job, natively: write the six payloads into a folder and flush each
   to disk, as the installer must. Usage: physical OUT_DIR PAYLOAD... */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static char* read_whole(const char* path, size_t* size) {
  FILE* in = fopen(path, "rb");
  if (!in) return NULL;
  fseek(in, 0, SEEK_END);
  *size = (size_t)ftell(in);
  fseek(in, 0, SEEK_SET);
  char* bytes = malloc(*size ? *size : 1);
  if (bytes && fread(bytes, 1, *size, in) != *size) {
    free(bytes);
    bytes = NULL;
  }
  fclose(in);
  return bytes;
}

int main(int argc, char** argv) {
  for (int i = 2; i < argc; ++i) {
    size_t size = 0;
    char* bytes = read_whole(argv[i], &size);
    const char* name = strrchr(argv[i], '/') ? strrchr(argv[i], '/') + 1 : argv[i];
    char target[4096];
    snprintf(target, sizeof target, "%s/%s", argv[1], name);
    int fd = open(target, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!bytes || fd < 0 || write(fd, bytes, size) != (ssize_t)size || fsync(fd) != 0 ||
        close(fd) != 0) {
      perror(target);
      return 1;
    }
    free(bytes);
  }
  return 0;
}
