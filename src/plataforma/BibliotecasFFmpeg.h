#pragma once

#include <QString>
#include <QStringList>
#include <optional>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libswresample/swresample.h>
}

// FFmpeg is opened on first use rather than linked: its codec libraries pull in well over a
// hundred more shared objects, which a tray program that only now and then encodes a voice note
// or resamples a call should not carry while it idles. The headers still give the types and
// macros; these pointers stand for the few functions called.
struct BibliotecasFFmpeg {
    // libavutil
    decltype(&::av_strerror) av_strerror = nullptr;
    decltype(&::av_log_set_level) av_log_set_level = nullptr;
    decltype(&::av_channel_layout_default) av_channel_layout_default = nullptr;
    decltype(&::av_channel_layout_copy) av_channel_layout_copy = nullptr;
    decltype(&::av_frame_alloc) av_frame_alloc = nullptr;
    decltype(&::av_frame_free) av_frame_free = nullptr;
    decltype(&::av_frame_get_buffer) av_frame_get_buffer = nullptr;
    decltype(&::av_frame_make_writable) av_frame_make_writable = nullptr;
    // libswresample
    decltype(&::swr_alloc_set_opts2) swr_alloc_set_opts2 = nullptr;
    decltype(&::swr_init) swr_init = nullptr;
    decltype(&::swr_convert) swr_convert = nullptr;
    decltype(&::swr_free) swr_free = nullptr;
    // libavcodec
    decltype(&::av_packet_alloc) av_packet_alloc = nullptr;
    decltype(&::av_packet_free) av_packet_free = nullptr;
    decltype(&::av_packet_rescale_ts) av_packet_rescale_ts = nullptr;
    decltype(&::avcodec_find_encoder) avcodec_find_encoder = nullptr;
    decltype(&::avcodec_alloc_context3) avcodec_alloc_context3 = nullptr;
    decltype(&::avcodec_free_context) avcodec_free_context = nullptr;
    decltype(&::avcodec_open2) avcodec_open2 = nullptr;
    decltype(&::avcodec_parameters_from_context) avcodec_parameters_from_context = nullptr;
    decltype(&::avcodec_send_frame) avcodec_send_frame = nullptr;
    decltype(&::avcodec_receive_packet) avcodec_receive_packet = nullptr;
    // libavformat
    decltype(&::avformat_alloc_output_context2) avformat_alloc_output_context2 = nullptr;
    decltype(&::avformat_free_context) avformat_free_context = nullptr;
    decltype(&::avformat_new_stream) avformat_new_stream = nullptr;
    decltype(&::avformat_write_header) avformat_write_header = nullptr;
    decltype(&::av_interleaved_write_frame) av_interleaved_write_frame = nullptr;
    decltype(&::av_write_trailer) av_write_trailer = nullptr;
    decltype(&::avio_open) avio_open = nullptr;
    decltype(&::avio_closep) avio_closep = nullptr;

    // The libraries of this system (opened once, kept for the life of the process), or null with
    // the reason in `error`: a library or a function that is missing.
    static const BibliotecasFFmpeg* cargar(QString* error);
    // Only libavutil and libswresample, which a call's resampling needs: the codec and format
    // libraries (and the hundred objects they bring) stay out of a program that never encodes.
    // The codec and format pointers of what it returns may be null.
    static const BibliotecasFFmpeg* cargarRemuestreo(QString* error);

    // The file names tried, in order: avutil, swresample, avcodec, avformat.
    static QStringList nombresDelSistema();
    // Opens the given libraries (the same order; the first two alone for resampling) into `b`;
    // the reason when one or a function is missing. What was opened stays open, as the libraries
    // of the system do.
    static std::optional<QString> abrir(const QStringList& nombres, BibliotecasFFmpeg& b);
};
