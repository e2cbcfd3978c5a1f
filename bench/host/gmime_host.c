/* GMime 3 doing what `vormime call FILE SaveMime OUT` and `... GetMime > OUT` do: parse the
 * file, write the message back out. Built by host_bench.sh only, as a speed reference. */
#include <fcntl.h>
#include <gmime/gmime.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: gmime_host IN OUT|-\n");
    return 2;
  }
  g_mime_init();
  int in = open(argv[1], O_RDONLY);
  if (in < 0) return 1;
  GMimeStream* source = g_mime_stream_fs_new(in);
  GMimeParser* parser = g_mime_parser_new_with_stream(source);
  GMimeMessage* message = g_mime_parser_construct_message(parser, NULL);
  if (message == NULL) return 1;
  int out = strcmp(argv[2], "-") == 0 ? dup(1) : open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) return 1;
  GMimeStream* sink = g_mime_stream_fs_new(out);
  GMimeStream* buffered = g_mime_stream_buffer_new(sink, GMIME_STREAM_BUFFER_BLOCK_WRITE);
  if (g_mime_object_write_to_stream(GMIME_OBJECT(message), NULL, buffered) < 0) return 1;
  g_mime_stream_flush(buffered);
  g_object_unref(buffered);
  g_object_unref(sink);
  g_object_unref(message);
  g_object_unref(parser);
  g_object_unref(source);
  return 0;
}
