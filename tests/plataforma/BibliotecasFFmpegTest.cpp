// FFmpeg is opened on first use: not mapped before, every function resolved after, and a missing
// library or function is a reason, not a crash.
#include "comun/Ayudas.h"
#include "plataforma/BibliotecasFFmpeg.h"

#include <gtest/gtest.h>

TEST(BibliotecasFFmpeg, SeAbrenAlPrimerUsoYResuelvenTodo) {
    // Linked into the program, these would already be here (with all their dependencies).
    EXPECT_FALSE(pruebas::bibliotecaCargada("libavcodec.so"));
    EXPECT_FALSE(pruebas::bibliotecaCargada("libavformat.so"));
    EXPECT_FALSE(pruebas::bibliotecaCargada("libswresample.so"));

    // Resampling alone (a call) opens only libavutil and libswresample.
    QString error;
    const BibliotecasFFmpeg* r = BibliotecasFFmpeg::cargarRemuestreo(&error);
    ASSERT_NE(r, nullptr) << error.toStdString();
    EXPECT_TRUE(pruebas::bibliotecaCargada("libswresample.so"));
    EXPECT_FALSE(pruebas::bibliotecaCargada("libavcodec.so"));
    EXPECT_FALSE(pruebas::bibliotecaCargada("libavformat.so"));
    EXPECT_NE(r->swr_convert, nullptr);
    EXPECT_NE(r->av_strerror, nullptr);
    EXPECT_EQ(r->avcodec_find_encoder, nullptr);
    EXPECT_EQ(BibliotecasFFmpeg::cargarRemuestreo(nullptr), r);

    const BibliotecasFFmpeg* b = BibliotecasFFmpeg::cargar(&error);
    ASSERT_NE(b, nullptr) << error.toStdString();
    EXPECT_TRUE(pruebas::bibliotecaCargada("libavcodec.so"));
    EXPECT_TRUE(pruebas::bibliotecaCargada("libavformat.so"));
    EXPECT_EQ(BibliotecasFFmpeg::cargar(nullptr), b);

    // Every pointer is set: the struct holds only function pointers.
    const auto* p = reinterpret_cast<void* const*>(b);
    for (size_t i = 0; i < sizeof(BibliotecasFFmpeg) / sizeof(void*); ++i) EXPECT_NE(p[i], nullptr) << i;

    // And they work: an error text and the AAC encoder come back.
    char texto[AV_ERROR_MAX_STRING_SIZE] = {};
    EXPECT_EQ(b->av_strerror(AVERROR(ENOENT), texto, sizeof texto), 0);
    EXPECT_STRNE(texto, "");
    EXPECT_NE(b->avcodec_find_encoder(AV_CODEC_ID_AAC), nullptr);
}

TEST(BibliotecasFFmpeg, LoQueFaltaEsUnMotivoClaro) {
    const QStringList sistema = BibliotecasFFmpeg::nombresDelSistema();
    struct Caso {
        QStringList nombres;
        QString motivo;  // what the reason must name
    };
    const Caso casos[] = {
        {{sistema[0], sistema[1], QStringLiteral("libavcodec.so.1"), sistema[3]}, "no se pudo cargar libavcodec.so.1"},
        {{QStringLiteral("/nada/libavutil.so.57"), sistema[1], sistema[2], sistema[3]}, "no se pudo cargar /nada/libavutil.so.57"},
        // A library that is there but lacks a function (a codec library where the format one goes).
        {{sistema[0], sistema[1], sistema[2], sistema[2]}, "falta la función avformat_alloc_output_context2 en libavcodec.so.59"},
        {{sistema[0], sistema[1], sistema[0], sistema[3]}, "falta la función av_packet_alloc en libavutil.so.57"},
        {{sistema[0]}, "se esperaban cuatro bibliotecas"},
        {{sistema[1], sistema[0]}, "falta la función swr_alloc_set_opts2 en libavutil.so.57"},
    };
    for (const Caso& c : casos) {
        BibliotecasFFmpeg b;
        const auto fallo = BibliotecasFFmpeg::abrir(c.nombres, b);
        ASSERT_TRUE(fallo.has_value()) << c.motivo.toStdString();
        EXPECT_TRUE(fallo->contains(c.motivo)) << fallo->toStdString();
        // Nothing half-filled is handed out.
        EXPECT_EQ(b.av_strerror, nullptr);
        EXPECT_EQ(b.avio_closep, nullptr);
    }
}
